#include "RtspServer.h"

#include <arpa/inet.h>
#include <event2/event.h>
#include <event2/listener.h>
#include <event2/thread.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/socket.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "CLog.h"
#include "ClockTime.h"
#include "LibrarySettings.h"
#include "PortRegistry.h"

namespace av {

namespace {

PortRegistry<RtspServer>& registry() {
    // Never destroyed: a caster released during the process's exit (without sluice_quit)
    // still finds it.
    static auto* servers = new PortRegistry<RtspServer>();
    return *servers;
}

int64_t nowMs() {
    return comn::ClockTime::getTime();
}

int64_t monotonicUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// "/main/" and "/main" name the same stream; "/" is the empty path.
std::string normalisePath(std::string path) {
    while (!path.empty() && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string sessionId() {
    uint8_t bytes[8] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        const int64_t t = monotonicUs();
        std::memcpy(bytes, &t, sizeof bytes);
    }
    char text[17];
    for (int i = 0; i < 8; ++i) {
        std::snprintf(text + i * 2, 3, "%02X", bytes[i]);
    }
    return text;
}

// The track a SETUP's URI names after the stream's path: "/trackID=N"; -1 for none.
int trackOf(const std::string& rest) {
    const size_t at = rest.rfind("trackID=");
    if (at == std::string::npos || at + 8 >= rest.size() || rest.size() - at > 10) {
        return -1;
    }
    const std::string digits = rest.substr(at + 8);
    if (digits.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    return std::atoi(digits.c_str());
}

std::string dateHeader() {
    char text[64];
    const time_t now = time(nullptr);
    tm utc{};
    gmtime_r(&now, &utc);
    strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return text;
}

}  // namespace

std::shared_ptr<RtspServer> RtspServer::acquire(uint16_t port, int& status) {
    std::unique_lock<std::mutex> lock(registry().mutex());
    if (port != 0) {
        if (std::shared_ptr<RtspServer> server = registry().find(lock, port)) {
            status = 0;
            return server;
        }
    }
    std::shared_ptr<RtspServer> server(new RtspServer());
    if (!server->listen(port)) {
        status = ENOENT;
        return nullptr;
    }
    registry().add(server->port(), server);
    status = 0;
    return server;
}

RtspServer::RtspServer() {
    evthread_use_pthreads();  // idempotent; a caster may be made before sluice_init
    m_base = event_base_new();
    assert(m_base != nullptr && "event_base_new");
    m_wakeEvent = event_new(m_base, -1, 0, &RtspServer::wakeCallback, this);
    m_sweepEvent = event_new(m_base, -1, EV_PERSIST, &RtspServer::sweepCallback, this);
    m_resumeEvent = evtimer_new(m_base, &RtspServer::resumeCallback, this);
    assert(m_wakeEvent != nullptr && m_sweepEvent != nullptr && m_resumeEvent != nullptr);
    setStackSize(static_cast<unsigned int>(LibrarySettings::stackSize()));
}

RtspServer::~RtspServer() {
    if (isRunning()) {
        stop();
    }
    // The loop has stopped: its objects can go from this thread. The port is free again
    // before the registry forgets the server, so that a caster opening the port next finds
    // it free.
    m_multicast.clear();
    m_sessions.clear();
    m_connections.clear();
    if (m_listener != nullptr) {
        evconnlistener_free(m_listener);
        m_listener = nullptr;
        // Not for a server that never listened: acquire() holds the registry lock then.
        registry().forget(m_port);
    }
    event_free(m_wakeEvent);
    event_free(m_sweepEvent);
    event_free(m_resumeEvent);
    event_base_free(m_base);
}

bool RtspServer::listen(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    m_listener =
        evconnlistener_new_bind(m_base, &RtspServer::acceptCallback, this,
                                LEV_OPT_CLOSE_ON_FREE | LEV_OPT_REUSEABLE | LEV_OPT_CLOSE_ON_EXEC,
                                -1, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (m_listener == nullptr) {
        CLog::warning("RtspServer cannot listen on port %d: %s\n", port, std::strerror(errno));
        return false;
    }
    evconnlistener_set_error_cb(m_listener, &RtspServer::acceptErrorCallback);
    socklen_t length = sizeof address;
    getsockname(evconnlistener_get_fd(m_listener), reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    // Session time-outs, request deadlines and sender reports are checked four times a
    // second: fine enough for a time-out of one second.
    const timeval period{0, 250000};
    event_add(m_sweepEvent, &period);
    if (!start()) {
        CLog::warning("RtspServer(%d) cannot start its thread\n", m_port);
        evconnlistener_free(m_listener);
        m_listener = nullptr;
        return false;
    }
    CLog::debug("RtspServer listening on port %d\n", m_port);
    return true;
}

int RtspServer::run() {
    m_loopThread = std::this_thread::get_id();
    while (!isStopping()) {
        event_base_dispatch(m_base);
    }
    return 0;
}

void RtspServer::doStop() {
    event_base_loopexit(m_base, nullptr);
}

void RtspServer::runOnLoop(const std::function<void()>& fn) {
    assert(std::this_thread::get_id() != m_loopThread.load() && "runOnLoop from the loop");
    std::unique_lock<std::mutex> lock(m_commandMutex);
    // Tickets count every command ever queued: a command being run has left the queue but
    // is not yet counted as run, so the queue's length cannot tell a caller its turn.
    const uint64_t ticket = ++m_commandsQueued;
    m_commands.push_back(fn);
    event_active(m_wakeEvent, EV_READ, 0);
    m_commandDone.wait(lock, [&] { return m_commandsRun >= ticket; });
}

void RtspServer::wake() {
    event_active(m_wakeEvent, EV_READ, 0);
}

void RtspServer::wakeCallback(int, short, void* arg) {
    auto* server = static_cast<RtspServer*>(arg);
    while (true) {
        std::function<void()> command;
        {
            std::lock_guard<std::mutex> lock(server->m_commandMutex);
            if (server->m_commands.empty()) {
                break;
            }
            command = std::move(server->m_commands.front());
            server->m_commands.pop_front();
        }
        command();
        {
            std::lock_guard<std::mutex> lock(server->m_commandMutex);
            ++server->m_commandsRun;
        }
        server->m_commandDone.notify_all();
    }
    server->distribute();
}

int RtspServer::mount(const std::shared_ptr<RtspMount>& mount, const std::string& path) {
    if (path.empty() || path[0] != '/' || path.size() > 255) {
        return EINVAL;
    }
    int status = 0;
    runOnLoop([&] {
        const std::string key = normalisePath(path);
        if (m_mounts.count(key) != 0) {
            status = EEXIST;
            return;
        }
        mount->setPath(key);
        m_mounts[key] = mount;
    });
    return status;
}

int RtspServer::remount(const std::shared_ptr<RtspMount>& mount, const std::string& path) {
    if (path.empty() || path[0] != '/' || path.size() > 255) {
        return EINVAL;
    }
    int status = 0;
    runOnLoop([&] {
        const std::string key = normalisePath(path);
        auto taken = m_mounts.find(key);
        if (taken != m_mounts.end()) {
            status = taken->second == mount ? 0 : EEXIST;
            return;
        }
        for (auto it = m_mounts.begin(); it != m_mounts.end(); ++it) {
            if (it->second == mount) {
                m_mounts.erase(it);
                break;
            }
        }
        mount->setPath(key);
        m_mounts[key] = mount;
    });
    return status;
}

void RtspServer::unmount(const std::shared_ptr<RtspMount>& mount) {
    runOnLoop([&] {
        for (auto it = m_mounts.begin(); it != m_mounts.end(); ++it) {
            if (it->second == mount) {
                m_mounts.erase(it);
                break;
            }
        }
        for (auto it = m_sessions.begin(); it != m_sessions.end();) {
            if (it->second->mount() == mount) {
                auto connection = m_connections.find(it->second->connectionId());
                if (connection != m_connections.end()) {
                    connection->second->addSession(-1);
                }
                it = m_sessions.erase(it);
            } else {
                ++it;
            }
        }
        pruneMulticast();
    });
}

void RtspServer::configure(const std::shared_ptr<RtspMount>& mount,
                           const std::function<void(RtspMountSettings&)>& change) {
    runOnLoop([&] { change(mount->settings()); });
}

bool RtspServer::setUdpPorts(int first, int last) {
    if (first < 1024 || last > 65535 || last < first + 1) {
        return false;
    }
    runOnLoop([&] {
        m_firstUdpPort = first;
        m_lastUdpPort = last;
        m_udpCursor = 0;
    });
    return true;
}

std::vector<DestinationStats> RtspServer::stats(const std::shared_ptr<RtspMount>& mount) {
    std::vector<DestinationStats> rows;
    runOnLoop([&] {
        for (const auto& [id, session] : m_sessions) {
            if (session->mount() != mount) {
                continue;
            }
            const RtspInterleavedSink* sink = nullptr;
            if (session->kind() == RtspTransport::Kind::TcpInterleaved) {
                auto connection = m_connections.find(session->connectionId());
                if (connection != m_connections.end()) {
                    sink = connection->second.get();
                }
            }
            const RtspSession* sender = nullptr;
            if (session->kind() == RtspTransport::Kind::UdpMulticast) {
                auto found = m_multicast.find(mount.get());
                sender = found == m_multicast.end() ? nullptr : found->second.get();
            }
            rows.push_back(session->stats(sink, sender));
        }
    });
    return rows;
}

void RtspServer::acceptCallback(evconnlistener*, int fd, struct sockaddr*, int, void* arg) {
    static_cast<RtspServer*>(arg)->accept(fd);
}

void RtspServer::acceptErrorCallback(evconnlistener*, void* arg) {
    auto* server = static_cast<RtspServer*>(arg);
    if (!server->m_acceptFailing) {
        server->m_acceptFailing = true;
        CLog::warning("RtspServer(%d) accept failed: %s; new clients wait\n", server->m_port,
                      evutil_socket_error_to_string(EVUTIL_SOCKET_ERROR()));
    }
    evconnlistener_disable(server->m_listener);
    const timeval pause{0, kAcceptPauseMs * 1000};
    evtimer_add(server->m_resumeEvent, &pause);
}

void RtspServer::resumeCallback(int, short, void* arg) {
    evconnlistener_enable(static_cast<RtspServer*>(arg)->m_listener);
}

void RtspServer::accept(int fd) {
    m_acceptFailing = false;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    sockaddr_in local{};
    socklen_t localLength = sizeof local;
    char peerText[INET_ADDRSTRLEN] = "";
    char localText[INET_ADDRSTRLEN] = "";
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0) {
        evutil_closesocket(fd);
        return;
    }
    inet_ntop(AF_INET, &peer.sin_addr, peerText, sizeof peerText);
    inet_ntop(AF_INET, &local.sin_addr, localText, sizeof localText);
    int& perAddress = m_connectionsPerAddress[peerText];
    if (perAddress >= kMaxConnectionsPerAddress || m_connections.size() >= kMaxConnections) {
        CLog::warning("RtspServer(%d) refuses %s: connection limit\n", m_port, peerText);
        if (perAddress == 0) {
            m_connectionsPerAddress.erase(peerText);
        }
        evutil_closesocket(fd);
        return;
    }
    evutil_make_socket_nonblocking(fd);
    bufferevent* bev = bufferevent_socket_new(m_base, fd, BEV_OPT_CLOSE_ON_FREE);
    if (bev == nullptr) {
        evutil_closesocket(fd);
        return;
    }
    const int sendBuffer = LibrarySettings::sendBufferSize();
    if (sendBuffer > 0) {
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    }
    ++perAddress;
    const uint64_t id = ++m_nextConnectionId;
    auto connection = std::make_unique<RtspConnection>(this, id, bev, peerText,
                                                       ntohs(peer.sin_port), localText, nowMs());
    bufferevent_setcb(bev, &RtspServer::readCallback, &RtspServer::writeCallback,
                      &RtspServer::eventCallback, connection.get());
    bufferevent_enable(bev, EV_READ | EV_WRITE);
    m_connections[id] = std::move(connection);
}

void RtspServer::closeConnection(uint64_t id) {
    auto found = m_connections.find(id);
    if (found == m_connections.end()) {
        return;
    }
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (it->second->connectionId() == id) {
            CLog::debug("RtspServer(%d) session %s ends with its connection\n", m_port,
                        it->first.c_str());
            it = m_sessions.erase(it);
        } else {
            ++it;
        }
    }
    pruneMulticast();
    auto count = m_connectionsPerAddress.find(found->second->peerAddress());
    if (count != m_connectionsPerAddress.end() && --count->second <= 0) {
        m_connectionsPerAddress.erase(count);
    }
    m_connections.erase(found);
}

void RtspServer::endSession(const std::string& id) {
    auto found = m_sessions.find(id);
    if (found == m_sessions.end()) {
        return;
    }
    auto connection = m_connections.find(found->second->connectionId());
    if (connection != m_connections.end()) {
        connection->second->addSession(-1);
    }
    m_sessions.erase(found);
    pruneMulticast();
}

void RtspServer::pruneMulticast() {
    for (auto it = m_multicast.begin(); it != m_multicast.end();) {
        bool listened = false;
        for (const auto& entry : m_sessions) {
            listened = listened || (entry.second->mount().get() == it->first &&
                                    entry.second->kind() == RtspTransport::Kind::UdpMulticast);
        }
        it = listened ? std::next(it) : m_multicast.erase(it);
    }
}

bool RtspServer::multicastPlaying(const RtspMount* mount) const {
    for (const auto& entry : m_sessions) {
        const RtspSession& s = *entry.second;
        if (s.mount().get() == mount && s.kind() == RtspTransport::Kind::UdpMulticast &&
            s.isPlaying()) {
            return true;
        }
    }
    return false;
}

// A connection is reached through its bufferevent's argument; the server's table keeps it
// alive, and nothing touches it after the callback closed it.
void RtspServer::readCallback(bufferevent*, void* arg) {
    auto* connection = static_cast<RtspConnection*>(arg);
    connection->server()->onReadable(*connection);
}

void RtspServer::writeCallback(bufferevent*, void* arg) {
    auto* connection = static_cast<RtspConnection*>(arg);
    if (connection->closing() && connection->backlog() == 0) {
        connection->server()->closeConnection(connection->id());
    }
}

void RtspServer::eventCallback(bufferevent*, short events, void* arg) {
    auto* connection = static_cast<RtspConnection*>(arg);
    if ((events & (BEV_EVENT_EOF | BEV_EVENT_ERROR)) != 0) {
        connection->server()->closeConnection(connection->id());
    }
}

void RtspServer::onReadable(RtspConnection& connection) {
    evbuffer* input = bufferevent_get_input(connection.bev());
    const uint64_t id = connection.id();
    const int64_t now = nowMs();
    while (!connection.closing()) {
        const size_t available = evbuffer_get_length(input);
        if (available == 0) {
            connection.setPartialSince(0);
            return;
        }
        if (connection.partialSinceMs() == 0) {
            connection.setPartialSince(now);
        }
        uint8_t first = 0;
        evbuffer_copyout(input, &first, 1);
        if (first == '$') {
            // RTCP (or anything) a TCP client sends on its interleaved channels.
            if (available < 4) {
                return;
            }
            const uint8_t* head = evbuffer_pullup(input, 4);
            const size_t size = static_cast<size_t>(head[2]) << 8 | head[3];
            if (available < 4 + size) {
                return;
            }
            const int channel = head[1];
            const uint8_t* frame = evbuffer_pullup(input, static_cast<ssize_t>(4 + size));
            onInterleaved(connection, channel, frame + 4, size);
            evbuffer_drain(input, 4 + size);
            connection.setPartialSince(0);
            continue;
        }
        const size_t window = std::min(available, RtspRequestParser::kMaxRequestSize + 2);
        const char* bytes =
            reinterpret_cast<const char*>(evbuffer_pullup(input, static_cast<ssize_t>(window)));
        RtspRequest request;
        size_t consumed = 0;
        const RtspRequestParser::Result result =
            RtspRequestParser::parse(bytes, window, request, consumed);
        if (result == RtspRequestParser::Result::NeedMore) {
            evbuffer_drain(input, consumed);
            return;
        }
        if (result != RtspRequestParser::Result::Complete) {
            const char* status = result == RtspRequestParser::Result::TooLarge
                                     ? "413 Request Entity Too Large"
                                     : "400 Bad Request";
            CLog::warning("RtspServer(%d) %s from %s; closing\n", m_port, status,
                          connection.peerAddress().c_str());
            std::string answer =
                std::string("RTSP/1.0 ") + status + "\r\nConnection: close\r\n\r\n";
            connection.writeBytes(answer.data(), answer.size());
            connection.setClosing();
            bufferevent_disable(connection.bev(), EV_READ);
            evbuffer_drain(input, evbuffer_get_length(input));
            return;
        }
        evbuffer_drain(input, consumed);
        connection.setPartialSince(0);
        connection.touch(now);
        handle(connection, request);
        if (m_connections.count(id) == 0) {
            return;  // closed while handling
        }
    }
}

void RtspServer::onInterleaved(RtspConnection& connection, int channel, const uint8_t* data,
                               size_t size) {
    const int64_t now = nowMs();
    connection.touch(now);
    for (const auto& [id, session] : m_sessions) {
        if (session->connectionId() != connection.id()) {
            continue;
        }
        bool rtcp = false;
        if (session->trackOfChannel(channel, rtcp) >= 0) {
            if (rtcp) {
                session->onRtcp(data, size, now);
            } else {
                session->touch(now);
            }
            return;
        }
    }
}

std::shared_ptr<RtspMount> RtspServer::findMount(const std::string& uri, std::string& rest,
                                                 std::string& baseUrl) const {
    std::string path = uri;
    std::string authority;
    if (path.compare(0, 7, "rtsp://") == 0 || path.compare(0, 7, "RTSP://") == 0) {
        const size_t slash = path.find('/', 7);
        authority = path.substr(7, slash == std::string::npos ? slash : slash - 7);
        path = slash == std::string::npos ? "/" : path.substr(slash);
    }
    if (path.empty() || path[0] != '/') {
        return nullptr;
    }
    const size_t query = path.find('?');
    if (query != std::string::npos) {
        path.erase(query);
    }
    path = normalisePath(path);
    std::shared_ptr<RtspMount> best;
    size_t bestLength = 0;
    for (const auto& [key, mount] : m_mounts) {
        // The stream itself or one of its tracks, nothing deeper: "/" serves "/trackID=1"
        // but not "/other".
        const bool matches =
            path == key || (path.compare(0, key.size(), key) == 0 && path.size() > key.size() &&
                            path[key.size()] == '/' && trackOf(path.substr(key.size())) >= 0 &&
                            path.find('/', key.size() + 1) == std::string::npos);
        if (matches && (best == nullptr || key.size() > bestLength)) {
            best = mount;
            bestLength = key.size();
        }
    }
    if (best != nullptr) {
        rest = path.substr(bestLength);
        baseUrl = "rtsp://" + authority + best->path();
    }
    return best;
}

RtspSession* RtspServer::findSession(const RtspConnection& connection, const RtspRequest& request) {
    std::string id = request.header("Session");
    const size_t semicolon = id.find(';');
    if (semicolon != std::string::npos) {
        id.erase(semicolon);
    }
    auto found = m_sessions.find(id);
    // A session is used only on the connection that made it: its id is no key for others.
    if (found == m_sessions.end() || found->second->connectionId() != connection.id()) {
        return nullptr;
    }
    return found->second.get();
}

int RtspServer::sessionCount(const RtspMount* mount) const {
    int count = 0;
    for (const auto& entry : m_sessions) {
        count += entry.second->mount().get() == mount;
    }
    return count;
}

void RtspServer::handle(RtspConnection& connection, const RtspRequest& request) {
    const long cseq = request.cseq();
    std::string status = "200 OK";
    std::string headers;
    std::string body;
    const auto answer = [&]() {
        std::string text = "RTSP/1.0 " + status + "\r\n";
        if (cseq >= 0) {
            text += "CSeq: " + std::to_string(cseq) + "\r\n";
        }
        text += "Server: libSluice\r\nDate: " + dateHeader() + "\r\n" + headers;
        if (!body.empty()) {
            text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        }
        text += "\r\n" + body;
        connection.writeBytes(text.data(), text.size());
    };
    if (cseq < 0) {
        status = "400 Bad Request";
        return answer();
    }
    if (request.version != "RTSP/1.0") {
        status = "505 RTSP Version Not Supported";
        return answer();
    }
    const std::string& method = request.method;
    RtspSession* session = findSession(connection, request);
    if (session != nullptr) {
        session->touch(nowMs());
    }
    if (method == "OPTIONS") {
        headers = "Public: OPTIONS, DESCRIBE, SETUP, PLAY, PAUSE, TEARDOWN, GET_PARAMETER\r\n";
        return answer();
    }
    static const char* const kMethods[] = {"DESCRIBE", "SETUP",    "PLAY",
                                           "PAUSE",    "TEARDOWN", "GET_PARAMETER"};
    if (std::find_if(std::begin(kMethods), std::end(kMethods),
                     [&](const char* m) { return method == m; }) == std::end(kMethods)) {
        status = "501 Not Implemented";
        return answer();
    }
    std::string rest;
    std::string baseUrl;
    std::shared_ptr<RtspMount> mount = findMount(request.uri, rest, baseUrl);
    if (mount == nullptr && session != nullptr) {
        mount = session->mount();  // GET_PARAMETER and TEARDOWN may name "*"
    }
    if (mount == nullptr) {
        status = "404 Not Found";
        return answer();
    }
    const RtspMountSettings& settings = mount->settings();
    if (!settings.authFile.empty()) {
        m_auth.load(settings.authFile);
        const RtspDigestAuth::Result result = m_auth.check(
            method, request.uri, request.header("Authorization"), connection.nonce(), nowMs());
        if (result != RtspDigestAuth::Result::Ok) {
            if (result == RtspDigestAuth::Result::Refused) {
                CLog::warning("RtspServer(%d) %s %s from %s: credentials refused\n", m_port,
                              method.c_str(), mount->path().c_str(),
                              connection.peerAddress().c_str());
            }
            status = "401 Unauthorized";
            headers = "WWW-Authenticate: " +
                      m_auth.challenge(connection.nonce(), nowMs(),
                                       result == RtspDigestAuth::Result::Stale) +
                      "\r\n";
            return answer();
        }
    }
    if (session != nullptr && session->mount() != mount) {
        status = "454 Session Not Found";
        return answer();
    }
    const std::string sessionHeader =
        session == nullptr ? std::string()
                           : "Session: " + session->id() +
                                 ";timeout=" + std::to_string(settings.timeoutSeconds) + "\r\n";
    if (method == "DESCRIBE") {
        char origin[160];
        std::snprintf(origin, sizeof origin, "v=0\r\no=- %" PRIu64 " 1 IN IP4 %s\r\n",
                      static_cast<uint64_t>(monotonicUs()), connection.localAddress().c_str());
        body = std::string(origin) +
               "s=libSluice\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\na=tool:libSluice\r\n"
               "a=control:*\r\na=range:npt=now-\r\n" +
               mount->sdpMedia();
        headers = "Content-Base: " + baseUrl + "/\r\nContent-Type: application/sdp\r\n";
        return answer();
    }
    if (method == "SETUP") {
        int track = trackOf(rest);
        if (track < 0 && rest.empty() && mount->info().trackCount == 1) {
            track = 0;
        }
        if (track < 0 || track >= mount->info().trackCount) {
            status =
                track < 0 && rest.empty() ? "459 Aggregate Operation Not Allowed" : "404 Not Found";
            return answer();
        }
        RtspTransport transport;
        if (!RtspTransport::parse(request.header("Transport"), transport)) {
            status = "461 Unsupported Transport";
            return answer();
        }
        std::unique_ptr<RtspSession> made;
        if (session == nullptr) {
            if (request.hasHeader("Session")) {
                status = "454 Session Not Found";
                return answer();
            }
            if (sessionCount(mount.get()) >= settings.maxSessions) {
                CLog::warning("RtspServer(%d) %s: session limit %d reached\n", m_port,
                              mount->path().c_str(), settings.maxSessions);
                status = "453 Not Enough Bandwidth";
                return answer();
            }
            made = std::make_unique<RtspSession>(sessionId(), mount, connection.id(),
                                                 connection.peerAddress(), connection.peerPort(),
                                                 m_base);
            made->touch(nowMs());
            session = made.get();
        }
        RtspSession* sender = nullptr;
        if (transport.kind == RtspTransport::Kind::UdpMulticast) {
            if (settings.multicastGroup.empty()) {
                status = "461 Unsupported Transport";
                return answer();
            }
            std::unique_ptr<RtspSession>& slot = m_multicast[mount.get()];
            if (slot == nullptr) {
                slot = std::make_unique<RtspSession>("multicast", mount, 0, settings.multicastGroup,
                                                     0, m_base);
            }
            sender = slot.get();
            if (!sender->hasTrack(track) &&
                !sender->setUpMulticast(track, settings.multicastGroup, settings.multicastPort,
                                        settings.multicastTtl, connection.localAddress(),
                                        m_firstUdpPort, m_lastUdpPort, &m_udpCursor)) {
                CLog::warning("RtspServer(%d) %s: cannot send to %s:%d: %s\n", m_port,
                              mount->path().c_str(), settings.multicastGroup.c_str(),
                              settings.multicastPort, std::strerror(errno));
                pruneMulticast();
                status = "453 Not Enough Bandwidth";
                return answer();
            }
        }
        std::string refusal;
        if (!session->setUp(track, transport, m_firstUdpPort, m_lastUdpPort, &m_udpCursor,
                            refusal)) {
            pruneMulticast();
            status = refusal;
            return answer();
        }
        const std::string transportText =
            sender != nullptr
                ? sender->multicastHeader(track, settings.multicastGroup, settings.multicastPort,
                                          settings.multicastTtl)
                : session->transportHeader(track);
        headers = "Transport: " + transportText + "\r\nSession: " + session->id() +
                  ";timeout=" + std::to_string(settings.timeoutSeconds) + "\r\n";
        if (made != nullptr) {
            CLog::debug("RtspServer(%d) %s session %s for %s\n", m_port, mount->path().c_str(),
                        made->id().c_str(), connection.peerAddress().c_str());
            connection.addSession(1);
            m_sessions[made->id()] = std::move(made);
        }
        return answer();
    }
    if (session == nullptr && method != "GET_PARAMETER") {
        status = "454 Session Not Found";
        return answer();
    }
    headers = sessionHeader;
    if (method == "PLAY") {
        if (!session->anyTrack()) {
            status = "455 Method Not Valid in This State";
            return answer();
        }
        session->play(true);
        const RtspSession* numbers = session;
        if (session->kind() == RtspTransport::Kind::UdpMulticast) {
            auto sender = m_multicast.find(mount.get());
            if (sender != m_multicast.end()) {
                numbers = sender->second.get();
            }
        }
        headers += "Range: npt=now-\r\nRTP-Info: " +
                   numbers->rtpInfo(baseUrl, mount->mediaUs(monotonicUs())) + "\r\n";
    } else if (method == "PAUSE") {
        session->play(false);
    } else if (method == "TEARDOWN") {
        endSession(session->id());
        headers.clear();
    }
    return answer();  // GET_PARAMETER: the keep-alive
}

void RtspServer::distribute() {
    for (const auto& [path, mount] : m_mounts) {
        std::deque<std::shared_ptr<const RtpFrame>> frames = mount->take();
        if (frames.empty()) {
            continue;
        }
        auto sender = m_multicast.find(mount.get());
        if (sender != m_multicast.end()) {
            sender->second->play(multicastPlaying(mount.get()));
            for (const auto& frame : frames) {
                sender->second->send(*frame, nullptr);
            }
        }
        for (const auto& [id, session] : m_sessions) {
            if (session->mount() != mount || !session->isPlaying() ||
                session->kind() == RtspTransport::Kind::UdpMulticast) {
                continue;
            }
            RtspInterleavedSink* sink = nullptr;
            if (session->kind() == RtspTransport::Kind::TcpInterleaved) {
                auto connection = m_connections.find(session->connectionId());
                if (connection == m_connections.end()) {
                    continue;
                }
                sink = connection->second.get();
            }
            for (const auto& frame : frames) {
                session->send(*frame, sink);
            }
        }
    }
}

int64_t RtspServer::idleLimitMs() const {
    int seconds = RtspMountSettings().timeoutSeconds;
    for (const auto& entry : m_mounts) {
        seconds = std::min(seconds, entry.second->settings().timeoutSeconds);
    }
    return static_cast<int64_t>(seconds) * 1000;
}

void RtspServer::sweepCallback(int, short, void* arg) {
    static_cast<RtspServer*>(arg)->sweep();
}

void RtspServer::sweep() {
    const int64_t now = nowMs();
    const int64_t nowUs = monotonicUs();
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        RtspSession& session = *it->second;
        const int64_t limit =
            static_cast<int64_t>(session.mount()->settings().timeoutSeconds) * 1000;
        if (now - session.lastActivityMs() > limit) {
            CLog::debug("RtspServer(%d) session %s timed out\n", m_port, it->first.c_str());
            auto connection = m_connections.find(session.connectionId());
            if (connection != m_connections.end()) {
                connection->second->addSession(-1);
            }
            it = m_sessions.erase(it);
            continue;
        }
        RtspInterleavedSink* sink = nullptr;
        if (session.kind() == RtspTransport::Kind::TcpInterleaved) {
            auto connection = m_connections.find(session.connectionId());
            sink = connection == m_connections.end() ? nullptr : connection->second.get();
        }
        if (session.mount()->hasMediaClock()) {
            session.report(now, session.mount()->mediaUs(nowUs), sink);
        }
        ++it;
    }
    pruneMulticast();
    for (const auto& [mount, sender] : m_multicast) {
        if (sender->mount()->hasMediaClock()) {
            sender->report(now, sender->mount()->mediaUs(nowUs), nullptr);
        }
    }
    const int64_t idle = idleLimitMs();
    std::vector<uint64_t> expired;
    for (const auto& [id, connection] : m_connections) {
        const bool slowRequest = connection->partialSinceMs() != 0 &&
                                 now - connection->partialSinceMs() > m_requestTimeoutMs.load();
        const bool idleTooLong =
            connection->sessionCount() <= 0 && now - connection->lastActivityMs() > idle;
        if (slowRequest || idleTooLong) {
            CLog::debug("RtspServer(%d) closes %s: %s\n", m_port, connection->peerAddress().c_str(),
                        slowRequest ? "request incomplete" : "idle");
            expired.push_back(id);
        }
    }
    for (uint64_t id : expired) {
        closeConnection(id);
    }
}

}  // namespace av
