#include "CHttpServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "DigestGuard.h"
#include "DocumentPath.h"
#include "FormBody.h"
#include "MhdReply.h"
#include "MultipartParser.h"
#include "OwnHosts.h"
#include "PasswordFile.h"
#include "RequestTarget.h"
#include "SameOrigin.h"
#include "UploadReceiver.h"
#include "WorkQueue.h"

using http::DocumentPath;
using http::FormBody;
using http::MhdReply;
using http::MultipartParser;
using http::PasswordFile;
using http::RequestTarget;
using http::SameOrigin;
using http::UploadReceiver;

namespace http {

using Clock = std::chrono::steady_clock;

/// One TCP connection (the library's socket context).
struct HttpPeer {
    int fd = -1;
    bool tls = false;
    int localPort = 0;
    std::string address;  // the client's address, for the login throttle and the log
    // Under the server's peer lock: the slow-client scan and a full server look at them.
    /// When the next request's headers must be complete; max while a request is served.
    Clock::time_point headerDeadline = Clock::time_point::max();
    bool requested = false;  // a request's headers were complete once
    bool closing = false;    // shut down by the server; gone once the library notices
    std::string rawUri;      // the request target as received, until the request takes it
};

enum class Route { Api, Upload, System, Metrics, Page };

/// One request (the library's request context).
struct HttpExchange {
    HttpPeer* peer = nullptr;
    Route route = Route::Page;
    std::string rawUri;
    std::string path;        // decoded by the library
    bool refused = false;    // a reply is queued already; the rest of the body is dropped
    bool tooLarge = false;   // the body passed its limit: 413 once it has ended
    long long received = 0;  // body bytes
    std::string body;
    std::unique_ptr<UploadReceiver> receiver;
    std::unique_ptr<MultipartParser> parser;
    // A long API call: the connection is suspended while the worker makes it.
    bool waiting = false;
    int status = 0;
    std::string response;
};

}  // namespace http

using http::HttpExchange;
using http::HttpPeer;
using http::Route;
using Clock = std::chrono::steady_clock;

namespace {

// How often the event loop looks for clients that are too slow with their headers.
constexpr std::chrono::milliseconds kSlowClientScan{250};
// Connections a daemon may hold beyond the server's own limit: the ones closed to make room
// stay counted by the library until its loop notices them.
constexpr unsigned kClosingConnections = 64;
// TLS 1.2 and 1.3 only, with GnuTLS's ciphers of 128-bit security and more.
constexpr const char* kTlsPriorities = "SECURE128:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2";
constexpr size_t kConnectionMemory = 16 * 1024;
// A body that goes on this far past its limit is not drained any further: the connection
// is dropped instead of answered.
constexpr long long kDrainSlack = 1024 * 1024;

const char* header(MHD_Connection* conn, const char* name) {
    return MHD_lookup_connection_value(conn, MHD_HEADER_KIND, name);
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string addressText(const sockaddr* addr) {
    char text[INET6_ADDRSTRLEN] = {};
    if (addr == nullptr) {
        return "?";
    }
    if (addr->sa_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(addr)->sin_addr, text,
                    sizeof text);
    } else if (addr->sa_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(addr)->sin6_addr, text,
                    sizeof text);
    }
    return text;
}

HttpPeer* peerOf(MHD_Connection* conn) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(conn, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info != nullptr ? static_cast<HttpPeer*>(info->socket_context) : nullptr;
}

}  // namespace

struct CHttpServer::Callbacks {
    static void* uri(void* self, const char* uri, MHD_Connection* conn) {
        (void)self;
        if (HttpPeer* peer = peerOf(conn)) {
            peer->rawUri = uri != nullptr ? uri : "";
        }
        return nullptr;
    }

    static void connection(void* self, MHD_Connection* conn, void** socketContext,
                           MHD_ConnectionNotificationCode toe) {
        auto* server = static_cast<CHttpServer*>(self);
        if (toe == MHD_CONNECTION_NOTIFY_STARTED) {
            auto* peer = new HttpPeer;
            const MHD_ConnectionInfo* fd =
                MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CONNECTION_FD);
            peer->fd = fd != nullptr ? fd->connect_fd : -1;
            // Replies go out as a header write and a body write (sendfile for pages); without
            // this the body waits for the client's delayed ACK.
            const int one = 1;
            ::setsockopt(peer->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            const MHD_ConnectionInfo* addr =
                MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            peer->address = addressText(addr != nullptr ? addr->client_addr : nullptr);
            // Asked of the connection itself: the HTTPS thread may take its first connection
            // before start() has stored the daemon and its port.
            const MHD_ConnectionInfo* session =
                MHD_get_connection_info(conn, MHD_CONNECTION_INFO_GNUTLS_SESSION);
            peer->tls = session != nullptr && session->tls_session != nullptr;
            sockaddr_in local{};
            socklen_t length = sizeof local;
            if (::getsockname(peer->fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
                local.sin_family == AF_INET) {
                peer->localPort = ntohs(local.sin_port);
            }
            std::lock_guard<std::mutex> lock(server->m_peersMutex);
            peer->headerDeadline = Clock::now() + server->m_headerTimeout;
            server->m_peers.push_back(peer);
            *socketContext = peer;
        } else if (toe == MHD_CONNECTION_NOTIFY_CLOSED) {
            auto* peer = static_cast<HttpPeer*>(*socketContext);
            std::lock_guard<std::mutex> lock(server->m_peersMutex);
            auto& peers = server->m_peers;
            peers.erase(std::remove(peers.begin(), peers.end(), peer), peers.end());
            delete peer;
            *socketContext = nullptr;
        }
    }

    static void completed(void* self, MHD_Connection* conn, void** requestContext,
                          MHD_RequestTerminationCode) {
        auto* server = static_cast<CHttpServer*>(self);
        delete static_cast<HttpExchange*>(*requestContext);
        *requestContext = nullptr;
        if (HttpPeer* peer = peerOf(conn)) {
            std::lock_guard<std::mutex> lock(server->m_peersMutex);
            peer->headerDeadline = Clock::now() + server->m_headerTimeout;
        }
    }

    static MHD_Result accept(void* self, const sockaddr*, socklen_t) {
        return static_cast<CHttpServer*>(self)->makeRoom() ? MHD_YES : MHD_NO;
    }

    static MHD_Result request(void* self, MHD_Connection* conn, const char* url, const char* method,
                              const char* version, const char* uploadData, size_t* uploadDataSize,
                              void** requestContext) {
        // HTTP/0.9 (a request line without a version) is not served.
        if (*requestContext == nullptr &&
            (version == nullptr || (std::strcmp(version, MHD_HTTP_VERSION_1_1) != 0 &&
                                    std::strcmp(version, MHD_HTTP_VERSION_1_0) != 0))) {
            *requestContext = new HttpExchange;
            static_cast<HttpExchange*>(*requestContext)->refused = true;
            return MhdReply::text(conn, MHD_HTTP_BAD_REQUEST, "Bad Request", true) ? MHD_YES
                                                                                   : MHD_NO;
        }
        return static_cast<CHttpServer*>(self)->request(conn, url, method, uploadData,
                                                        uploadDataSize, requestContext)
                   ? MHD_YES
                   : MHD_NO;
    }
};

CHttpServer::CHttpServer(const std::string& authFile)
    : m_authFile(authFile), m_ownHosts(std::make_unique<http::OwnHosts>()) {
    ensureAuthFile(authFile);
}

CHttpServer::~CHttpServer() {
    stop();
}

bool CHttpServer::setDocumentRoot(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_documentRoot = path;
    return true;
}

bool CHttpServer::setUploadDir(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_uploadDir = path;
    return true;
}

bool CHttpServer::setAuthFile(const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(m_configMutex);
        m_authFile = path;
    }
    if (!path.empty()) {
        ensureAuthFile(path);
    }
    return true;
}

void CHttpServer::setListenAddress(const std::string& address) {
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_listenAddress = address;
}

void CHttpServer::setHttps(int port, const std::string& keyPem, const std::string& certPem) {
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_httpsPort = port;
    m_keyPem = keyPem;
    m_certPem = certPem;
}

void CHttpServer::setHttpsOnly(std::function<bool()> httpsOnly) {
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_httpsOnly = std::move(httpsOnly);
}

void CHttpServer::setOwnNames(const std::vector<std::string>& names) {
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_ownHosts->setExtraNames(names);
}

void CHttpServer::setTimeouts(unsigned nonceSeconds, std::chrono::seconds headerTimeout) {
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_nonceTimeout = nonceSeconds;
    m_headerTimeout = headerTimeout;
}

void CHttpServer::setHandler(HttpHandler* handler) {
    std::lock_guard<std::mutex> callLock(m_longCallMutex);
    std::lock_guard<std::mutex> lock(m_handlerMutex);
    m_handler = handler;
}

std::string CHttpServer::documentRoot() const {
    std::lock_guard<std::mutex> lock(m_configMutex);
    return m_documentRoot;
}

std::string CHttpServer::uploadDir() const {
    std::lock_guard<std::mutex> lock(m_configMutex);
    return m_uploadDir;
}

std::string CHttpServer::authFile() const {
    std::lock_guard<std::mutex> lock(m_configMutex);
    return m_authFile;
}

void CHttpServer::ensureAuthFile(const std::string& path) {
    if (PasswordFile::exists(path)) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_handlerMutex);
    if (m_handler != nullptr) {
        m_handler->handleRtspInfo(PasswordFile::kDefaultUser, PasswordFile::kDefaultPassword);
    }
    if (!PasswordFile::write(path, PasswordFile::kDefaultUser, PasswordFile::kDefaultPassword)) {
        std::printf("web server: cannot write the password file %s: %s\n", path.c_str(),
                    std::strerror(errno));
    }
}

MHD_Daemon* CHttpServer::startDaemon(int port, bool tls, const char* what) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!m_listenAddress.empty()) {
        ::inet_pton(AF_INET, m_listenAddress.c_str(), &addr.sin_addr);
    }
    // Plain HTTP: no internal thread; the event loop (run) drives it through its epoll
    // descriptor. HTTPS: the library's poll() thread, which waits on what a handshake
    // waits for; in epoll mode the library would never learn that GnuTLS found no data
    // and would call it again at once, a core busy for each waiting handshake.
    unsigned flags = MHD_ALLOW_SUSPEND_RESUME;
    flags |= tls ? MHD_USE_TLS | MHD_USE_POLL_INTERNAL_THREAD : MHD_USE_EPOLL;
    MHD_OptionItem tlsOptions[] = {
        {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(m_keyPem.c_str())},
        {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(m_certPem.c_str())},
        {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kTlsPriorities)},
        {MHD_OPTION_END, 0, nullptr},
    };
    MHD_OptionItem none[] = {{MHD_OPTION_END, 0, nullptr}};
    // clang-format off
    MHD_Daemon* daemon = MHD_start_daemon(
        flags, 0, &Callbacks::accept, this,
        reinterpret_cast<MHD_AccessHandlerCallback>(&Callbacks::request), this,
        MHD_OPTION_SOCK_ADDR, &addr,
        MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u,
        MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(kIdleTimeout.count()),
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, kConnectionsPerAddress,
        MHD_OPTION_CONNECTION_LIMIT, kMaxConnections + kClosingConnections,
        // Headers and buffers of one connection; the pool is cleared for every request, so a
        // smaller one costs less. A browser's request headers take about 1 KiB.
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
        MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::connection, this,
        MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::completed, this,
        MHD_OPTION_URI_LOG_CALLBACK, &Callbacks::uri, this,
        // Malformed request lines and headers are refused with 400, not read leniently.
        MHD_OPTION_STRICT_FOR_CLIENT, 1,
        MHD_OPTION_ARRAY, tls ? tlsOptions : none,
        MHD_OPTION_END);
    // clang-format on
    if (daemon == nullptr) {
        std::printf("\n%s can not bind port : %d\n, exit !!!", what, port);
        std::fflush(stdout);
    }
    return daemon;
}

bool CHttpServer::start(int port, HttpHandler* handler) {
    if (port < 0 || handler == nullptr || isRunning()) {
        return false;
    }
    const std::string file = authFile();
    // A file that is there but unusable is refused request by request (fail closed) while
    // the rest of the device goes on; one that could not even be created ends the start.
    if (!file.empty() && ::access(file.c_str(), R_OK) != 0) {
        std::printf(
            "web server: the password file %s cannot be read (%s); "
            "not serving without authentication\n",
            file.c_str(), std::strerror(errno));
        return false;
    }
    setHandler(handler);
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_guard = std::make_unique<http::DigestGuard>(std::chrono::seconds(m_nonceTimeout));
    m_bindFailed = false;
    m_http = startDaemon(port, false, "web server");
    if (m_http == nullptr) {
        m_bindFailed = true;
        return false;
    }
    const MHD_DaemonInfo* bound = MHD_get_daemon_info(m_http, MHD_DAEMON_INFO_BIND_PORT);
    m_boundPort = bound != nullptr ? bound->port : port;
    if (m_httpsPort >= 0) {
        m_https = startDaemon(m_httpsPort, true, "https server");
        if (m_https == nullptr) {
            MHD_stop_daemon(m_http);
            m_http = nullptr;
            m_boundPort = 0;
            m_bindFailed = true;
            return false;
        }
        const MHD_DaemonInfo* tlsBound = MHD_get_daemon_info(m_https, MHD_DAEMON_INFO_BIND_PORT);
        m_boundHttpsPort = tlsBound != nullptr ? tlsBound->port : m_httpsPort;
    }
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_longCalls = std::make_unique<http::WorkQueue>();
    m_stopping = false;
    m_running = true;
    m_loop = std::thread([this] { run(); });
    return true;
}

void CHttpServer::stop() {
    if (!m_running.exchange(false)) {
        return;
    }
    m_stopping = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    m_loop.join();
    // Every suspended connection is resumed before the daemons close.
    m_longCalls->stop();
    // Closing the daemons runs the last callbacks on this thread; the loop has ended.
    if (m_https != nullptr) {
        MHD_stop_daemon(m_https);
        m_https = nullptr;
    }
    MHD_stop_daemon(m_http);
    m_http = nullptr;
    ::close(m_wakeFd);
    m_wakeFd = -1;
    m_longCalls.reset();
    m_boundPort = 0;
    m_boundHttpsPort = 0;
}

bool CHttpServer::isRunning() const {
    return m_running.load();
}

void CHttpServer::run() {
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_http, MHD_DAEMON_INFO_EPOLL_FD);
    auto lastScan = Clock::now();
    while (!m_stopping.load()) {
        pollfd fds[2] = {{info->epoll_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        long long timeout = kSlowClientScan.count();
        MHD_UNSIGNED_LONG_LONG due = 0;
        if (MHD_get_timeout(m_http, &due) == MHD_YES) {
            timeout = std::min<long long>(timeout, static_cast<long long>(due));
        }
        ::poll(fds, 2, static_cast<int>(timeout));
        MHD_run(m_http);
        const auto now = Clock::now();
        if (now - lastScan >= kSlowClientScan) {
            lastScan = now;
            closeSlowClients();
        }
    }
}

// A client that trickles its headers keeps a connection busy without ever being idle; it
// is cut off at its deadline. The library notices the shut-down socket and cleans up.
void CHttpServer::closeSlowClients() {
    const auto now = Clock::now();
    std::lock_guard<std::mutex> lock(m_peersMutex);
    for (HttpPeer* peer : m_peers) {
        if (peer->headerDeadline <= now && peer->fd >= 0) {
            ::shutdown(peer->fd, SHUT_RDWR);
            peer->headerDeadline = Clock::time_point::max();
            peer->closing = true;
        }
    }
}

// The oldest connection that waits for a request goes, first among those that never
// completed one: slow and silent clients, and idle ones after them. A client whose request
// is being served is never cut. Called for each new connection, on its daemon's thread.
bool CHttpServer::makeRoom() {
    std::lock_guard<std::mutex> lock(m_peersMutex);
    const auto open = std::count_if(m_peers.begin(), m_peers.end(),
                                    [](const HttpPeer* p) { return !p->closing; });
    if (open < static_cast<long>(kMaxConnections)) {
        return true;
    }
    const auto waiting = [](const HttpPeer* p) {
        return !p->closing && p->fd >= 0 && p->headerDeadline != Clock::time_point::max();
    };
    auto victim = std::find_if(m_peers.begin(), m_peers.end(),
                               [&](const HttpPeer* p) { return waiting(p) && !p->requested; });
    if (victim == m_peers.end()) {
        victim = std::find_if(m_peers.begin(), m_peers.end(), waiting);
    }
    if (victim == m_peers.end()) {
        return false;
    }
    ::shutdown((*victim)->fd, SHUT_RDWR);
    (*victim)->closing = true;
    return true;
}

bool CHttpServer::request(MHD_Connection* conn, const char* url, const char* method,
                          const char* uploadData, size_t* uploadDataSize, void** requestContext) {
    auto* ex = static_cast<HttpExchange*>(*requestContext);
    if (ex == nullptr) {
        // The headers are complete: decide before any of the body is read.
        ex = new HttpExchange;
        *requestContext = ex;
        ex->peer = peerOf(conn);
        if (ex->peer != nullptr) {
            {
                std::lock_guard<std::mutex> lock(m_peersMutex);
                ex->peer->headerDeadline = Clock::time_point::max();
                ex->peer->requested = true;
            }
            ex->rawUri = std::move(ex->peer->rawUri);
        }
        ex->path = url != nullptr ? url : "";
        if (startsWith(ex->path, "/api")) {
            ex->route = Route::Api;
        } else if (startsWith(ex->path, "/upload")) {
            ex->route = Route::Upload;
        } else if (startsWith(ex->path, "/sys/")) {
            ex->route = Route::System;
        } else if (ex->path == "/metrics") {
            ex->route = Route::Metrics;
        }
        ++m_requests;
        if (admit(conn, *ex, method) == Access::Refused) {
            ex->refused = true;
        }
        return true;
    }
    const size_t size = *uploadDataSize;
    if (size > 0) {
        *uploadDataSize = 0;
        ex->received += static_cast<long long>(size);
        if (ex->refused) {
            return true;
        }
        if (ex->route == Route::Upload) {
            const long long limit = kMaxUploadBytes + kUploadFramingBytes;
            ex->tooLarge = ex->tooLarge || ex->received > limit;
            if (ex->tooLarge) {
                return ex->received <= limit + kDrainSlack;
            }
            if (!ex->parser->done() && !ex->parser->failed()) {
                ex->parser->feed(uploadData, size);
            }
            return true;
        }
        ex->tooLarge = ex->tooLarge || ex->body.size() + size > kMaxBodyBytes;
        if (ex->tooLarge) {
            return ex->received <= kMaxBodyBytes + kDrainSlack;
        }
        ex->body.append(uploadData, size);
        return true;
    }
    if (ex->waiting) {
        // Resumed: the long call has its answer.
        ex->waiting = false;
        replyApi(conn, ex->status, ex->response);
        ex->refused = true;
    } else if (!ex->refused && finish(conn, *ex, method)) {
        ex->refused = true;  // answered: later calls of this request do nothing
    }
    return true;
}

bool CHttpServer::redirectToHttps(MHD_Connection* conn, HttpExchange& ex, const char* method) {
    std::function<bool()> httpsOnly;
    {
        std::lock_guard<std::mutex> lock(m_configMutex);
        httpsOnly = m_httpsOnly;
    }
    if (ex.peer == nullptr || ex.peer->tls || m_https == nullptr || !httpsOnly || !httpsOnly()) {
        return false;
    }
    const std::string_view m(method);
    if (m != "GET" && m != "HEAD") {
        MhdReply::text(conn, MHD_HTTP_FORBIDDEN,
                       "This device answers only over HTTPS; send the request to its https:// "
                       "address.\n",
                       true);
        return true;
    }
    std::optional<std::string> host = RequestTarget::plainHost(header(conn, MHD_HTTP_HEADER_HOST));
    if (!host) {
        sockaddr_storage local{};
        socklen_t len = sizeof local;
        ::getsockname(ex.peer->fd, reinterpret_cast<sockaddr*>(&local), &len);
        host = addressText(reinterpret_cast<const sockaddr*>(&local));
        if (local.ss_family == AF_INET6) {
            host = "[" + *host + "]";
        }
    }
    const int port = m_boundHttpsPort.load();
    std::string target = RequestTarget::localTarget(ex.path);
    if (ex.rawUri.find('?') != std::string::npos) {
        target += "?" + RequestTarget::queryForHeader(RequestTarget::query(ex.rawUri));
    }
    const std::string location =
        "https://" + *host + (port == 443 ? "" : ":" + std::to_string(port)) + target;
    MhdReply::redirect(conn, location);
    return true;
}

CHttpServer::Access CHttpServer::admit(MHD_Connection* conn, HttpExchange& ex, const char* method) {
    if (RequestTarget::pathHasNul(ex.rawUri) || ex.path.find('\0') != std::string::npos) {
        MhdReply::text(conn, MHD_HTTP_BAD_REQUEST, "Bad Request", true);
        return Access::Refused;
    }
    if (redirectToHttps(conn, ex, method)) {
        return Access::Refused;
    }
    const std::string client = ex.peer != nullptr ? ex.peer->address : "?";
    std::unique_lock<std::mutex> guardLock(m_guardMutex);
    if (m_guard->lockedOut(conn, client)) {
        return Access::Refused;
    }
    const bool control = ex.route != Route::Page;
    if (!SameOrigin::fetchSiteAllowed(header(conn, "Sec-Fetch-Site"))) {
        MhdReply::json(conn, MHD_HTTP_FORBIDDEN, "{}", true);
        return Access::Refused;
    }
    if (ex.route == Route::Metrics ? !admitBearer(conn, client)
                                   : !m_guard->admit(conn, authFile(), method, ex.rawUri, client)) {
        return Access::Refused;
    }
    guardLock.unlock();
    if (control) {
        SameOrigin::Self self;
        self.scheme = ex.peer != nullptr && ex.peer->tls ? "https" : "http";
        self.port = ex.peer != nullptr ? ex.peer->localPort : 0;
        self.isOwnHost = [this](const std::string& host) {
            std::lock_guard<std::mutex> lock(m_configMutex);
            return m_ownHosts->contains(host);
        };
        if (!SameOrigin::allowed(header(conn, MHD_HTTP_HEADER_ORIGIN),
                                 header(conn, MHD_HTTP_HEADER_REFERER), self)) {
            MhdReply::json(conn, MHD_HTTP_FORBIDDEN, "{}", true);
            return Access::Refused;
        }
    }
    const char* lengthText = header(conn, MHD_HTTP_HEADER_CONTENT_LENGTH);
    const long long length = lengthText != nullptr ? std::strtoll(lengthText, nullptr, 10) : 0;
    if (ex.route == Route::Upload) {
        const char* type = header(conn, MHD_HTTP_HEADER_CONTENT_TYPE);
        const std::optional<std::string> boundary =
            type != nullptr ? MultipartParser::boundaryOf(type) : std::nullopt;
        if (!boundary) {
            MhdReply::text(conn, MHD_HTTP_BAD_REQUEST, "", true);
            return Access::Refused;
        }
        if (length > kMaxUploadBytes + kUploadFramingBytes) {
            MhdReply::text(conn, MHD_HTTP_CONTENT_TOO_LARGE, "", true);
            return Access::Refused;
        }
        ex.receiver = std::make_unique<UploadReceiver>(uploadDir(), kMaxUploadBytes);
        ex.parser = std::make_unique<MultipartParser>(*boundary, *ex.receiver);
    } else if (control && length > kMaxBodyBytes) {
        MhdReply::json(conn, MHD_HTTP_CONTENT_TOO_LARGE, "{}", true);
        return Access::Refused;
    }
    return Access::Granted;
}

bool CHttpServer::finish(MHD_Connection* conn, HttpExchange& ex, const char* method) {
    switch (ex.route) {
        case Route::Api:
            return serveApi(conn, ex, method);
        case Route::System:
            serveSystem(conn, ex);
            return true;
        case Route::Upload:
            serveUpload(conn, ex);
            return true;
        case Route::Metrics:
            serveMetrics(conn, method);
            return true;
        case Route::Page:
            servePage(conn, ex);
            return true;
    }
    return true;
}

void CHttpServer::setMetrics(std::function<bool(std::string_view)> tokenMatches,
                             std::function<std::string()> page) {
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_metricsTokenMatches = std::move(tokenMatches);
    m_metricsPage = std::move(page);
}

CHttpServer::Counters CHttpServer::counters() const {
    Counters c;
    c.requests = m_requests.load();
    std::lock_guard<std::mutex> lock(m_guardMutex);
    c.authFailures = m_guard ? m_guard->failures() : 0;
    return c;
}

// Called with m_guardMutex held. Monitoring systems cannot answer a digest challenge; the
// token stands in for the credentials, and guessing it meets the same lockout.
bool CHttpServer::admitBearer(MHD_Connection* conn, const std::string& client) {
    std::function<bool(std::string_view)> matches;
    {
        std::lock_guard<std::mutex> lock(m_configMutex);
        matches = m_metricsTokenMatches;
    }
    constexpr std::string_view kScheme = "Bearer ";
    const char* authorization = header(conn, MHD_HTTP_HEADER_AUTHORIZATION);
    const std::string_view given = authorization != nullptr ? authorization : "";
    const bool bearer = given.size() > kScheme.size() && startsWith(given, kScheme);
    if (bearer && matches && matches(given.substr(kScheme.size()))) {
        return true;
    }
    if (authorization != nullptr) {
        m_guard->countFailure(client);
    }
    MhdReply::text(conn, MHD_HTTP_UNAUTHORIZED, "Unauthorized\n", false,
                   MHD_HTTP_HEADER_WWW_AUTHENTICATE, "Bearer realm=\"metrics\"");
    return false;
}

void CHttpServer::serveMetrics(MHD_Connection* conn, const char* method) {
    const std::string_view m(method);
    if (m != "GET" && m != "HEAD") {
        MhdReply::text(conn, MHD_HTTP_METHOD_NOT_ALLOWED, "", false, MHD_HTTP_HEADER_ALLOW,
                       "GET, HEAD");
        return;
    }
    std::function<std::string()> page;
    {
        std::lock_guard<std::mutex> lock(m_configMutex);
        page = m_metricsPage;
    }
    if (!page) {
        MhdReply::text(conn, MHD_HTTP_NOT_FOUND, "", false);
        return;
    }
    MhdReply::typed(conn, MHD_HTTP_OK, page(), "text/plain; version=0.0.4; charset=utf-8");
}

namespace {

int apiStatus(ApiResult result) {
    switch (result) {
        case kApiOk:
            return MHD_HTTP_OK;
        case kApiMethodNotAllowed:
            return MHD_HTTP_METHOD_NOT_ALLOWED;
        case kApiBadRequest:
            return MHD_HTTP_BAD_REQUEST;
        default:
            return MHD_HTTP_INTERNAL_SERVER_ERROR;
    }
}

}  // namespace

bool CHttpServer::serveApi(MHD_Connection* conn, HttpExchange& ex, const char* method) {
    if (ex.tooLarge) {
        MhdReply::json(conn, MHD_HTTP_CONTENT_TOO_LARGE, "{}", true);
        return true;
    }
    const std::string_view apiPath = std::string_view(ex.path).substr(4);  // after "/api"
    const std::string_view query = RequestTarget::query(ex.rawUri);
    std::string response = "{}";
    int status = MHD_HTTP_NOT_FOUND;
    {
        std::lock_guard<std::mutex> lock(m_handlerMutex);
        if (m_handler != nullptr) {
            if (m_handler->runsLong(method, apiPath)) {
                runLong(conn, ex, method);
                return false;
            }
            status = apiStatus(m_handler->handleApi(method, apiPath, query, ex.body, response));
        }
    }
    replyApi(conn, status, response);
    return true;
}

// The connection waits, suspended, while the worker makes the call; the library calls
// request() again once it is resumed, and the answer goes out from there.
void CHttpServer::runLong(MHD_Connection* conn, HttpExchange& ex, const char* method) {
    ex.waiting = true;
    MHD_suspend_connection(conn);
    m_longCalls->post([this, conn, &ex, m = std::string(method)](bool stopping) {
        ex.status = MHD_HTTP_SERVICE_UNAVAILABLE;
        ex.response = "{}";
        if (!stopping) {
            std::lock_guard<std::mutex> callLock(m_longCallMutex);
            HttpHandler* handler = nullptr;
            {
                std::lock_guard<std::mutex> lock(m_handlerMutex);
                handler = m_handler;
            }
            ex.status = MHD_HTTP_NOT_FOUND;
            if (handler != nullptr) {
                const std::string_view apiPath = std::string_view(ex.path).substr(4);
                ex.status = apiStatus(handler->handleApi(
                    m, apiPath, RequestTarget::query(ex.rawUri), ex.body, ex.response));
            }
        }
        MHD_resume_connection(conn);
    });
}

void CHttpServer::replyApi(MHD_Connection* conn, int status, const std::string& response) {
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED) {
        MhdReply::json(conn, status, response, false, MHD_HTTP_HEADER_ALLOW,
                       HttpHandler::kAllowForStateChanges);
    } else {
        MhdReply::json(conn, status, response);
    }
}

int CHttpServer::serveSystem(MHD_Connection* conn, HttpExchange& ex) {
    if (ex.tooLarge) {
        MhdReply::json(conn, MHD_HTTP_CONTENT_TOO_LARGE, "{}", true);
        return MHD_HTTP_CONTENT_TOO_LARGE;
    }
    const std::string_view systemPath = std::string_view(ex.path).substr(4);  // after "/sys"
    const int status = systemPath == "/password" ? changePassword(ex.body) : MHD_HTTP_NOT_FOUND;
    MhdReply::json(conn, status, "{}");
    return status;
}

// Credentials that cannot be stored, or that would lock every user out, are refused.
int CHttpServer::changePassword(const std::string& body) {
    const std::string user = FormBody::value(body, "user").value_or("");
    const std::string password = FormBody::value(body, "password").value_or("");
    if (!PasswordFile::validUser(user) || !PasswordFile::validPassword(password)) {
        return MHD_HTTP_BAD_REQUEST;
    }
    std::lock_guard<std::mutex> lock(m_handlerMutex);
    if (!PasswordFile::write(authFile(), user, password)) {
        return MHD_HTTP_INTERNAL_SERVER_ERROR;
    }
    if (m_handler != nullptr) {
        m_handler->handleRtspInfo(user, password);
    }
    return MHD_HTTP_OK;
}

// Every file of a refused upload is gone once the exchange ends. The connection closes after
// the reply, as it always has for uploads.
void CHttpServer::serveUpload(MHD_Connection* conn, HttpExchange& ex) {
    ex.parser->finish();
    using Failure = UploadReceiver::Failure;
    const Failure failure = ex.receiver->failure();
    if (failure != Failure::None || ex.tooLarge || !ex.parser->done() ||
        ex.receiver->files().empty()) {
        // Gone before the client hears of the refusal.
        ex.parser.reset();
        ex.receiver.reset();
    }
    if (ex.tooLarge || failure == Failure::TooLarge) {
        MhdReply::text(conn, MHD_HTTP_CONTENT_TOO_LARGE, "", true);
        return;
    }
    if (failure == Failure::OpenFailed) {
        MhdReply::text(conn, MHD_HTTP_INTERNAL_SERVER_ERROR, "Failed to open a file", true);
        return;
    }
    if (failure == Failure::WriteFailed) {
        MhdReply::text(conn, MHD_HTTP_INTERNAL_SERVER_ERROR, "Failed to write to a file", true);
        return;
    }
    if (!ex.receiver) {
        MhdReply::text(conn, MHD_HTTP_BAD_REQUEST, "", true);
        return;
    }
    std::lock_guard<std::mutex> lock(m_handlerMutex);
    if (!ex.receiver->commit()) {
        MhdReply::text(conn, MHD_HTTP_INTERNAL_SERVER_ERROR, "Failed to write to a file", true);
        return;
    }
    if (m_handler != nullptr) {
        for (const UploadReceiver::File& f : ex.receiver->files()) {
            m_handler->handleUpload(f.field, f.path);
        }
    }
    const UploadReceiver::File& first = ex.receiver->files().front();
    MhdReply::text(
        conn, MHD_HTTP_OK,
        "Written " + std::to_string(first.size) + " of POST data to file:" + first.path + "\n\n",
        true);
}

void CHttpServer::servePage(MHD_Connection* conn, HttpExchange& ex) {
    std::string file;
    switch (DocumentPath::resolve(documentRoot(), ex.path, file)) {
        case DocumentPath::Result::Found:
            MhdReply::file(conn, file);
            return;
        case DocumentPath::Result::Forbidden:
            MhdReply::text(conn, MHD_HTTP_FORBIDDEN, "Forbidden", false);
            return;
        case DocumentPath::Result::NeedsSlash:
            MhdReply::redirect(conn, RequestTarget::localTarget(ex.path) + "/");
            return;
        case DocumentPath::Result::NotFound:
            break;
    }
    MhdReply::text(conn, MHD_HTTP_NOT_FOUND, "Not Found", false);
}
