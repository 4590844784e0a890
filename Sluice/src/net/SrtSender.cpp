#include "SrtSender.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <netdb.h>
#include <srt/access_control.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "CLog.h"
#include "LibrarySettings.h"
#include "SendPace.h"
#include "SrtLog.h"

namespace av {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kFirstBackoff{250};
constexpr std::chrono::milliseconds kLongestBackoff{8000};
// How long the thread sleeps without pushes: the pace of accepting and reconnecting.
constexpr std::chrono::milliseconds kIdleWake{10};
// libsrt frees a closed socket's buffers on its garbage collector's tick, a second or more
// after the close, and a multiplexer (the UDP port of a caller) later still: freed memory is
// given back once a second for a while after the last close.
constexpr std::chrono::milliseconds kTrimEvery{1000};
constexpr std::chrono::milliseconds kTrimFor{10000};

int64_t monotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

std::string dotted(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {0};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return text;
}

bool resolve(const NetAddress& target, sockaddr_in& out) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(target.ip().c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    std::memcpy(&out, found->ai_addr, sizeof out);
    out.sin_port = htons(target.port());
    freeaddrinfo(found);
    return true;
}

}  // namespace

SrtSender::SrtSender() = default;

SrtSender::~SrtSender() {
    stop();
}

int SrtSender::start(int port) {
    stop();
    {
        std::lock_guard<std::mutex> lock(m_mutex);  // push may come from any thread
        m_clock.restart();                          // a new stream
        m_burstFloorNs = 0;
        m_nextSendNs = INT64_MAX;
    }
    routeSrtLog();
    srt_startup();
    m_started = true;
    m_listenPort = 0;
    if (port != kNoListener) {
        m_listener = srt_create_socket();
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(static_cast<uint16_t>(port));
        bool ok =
            m_listener != SRT_INVALID_SOCK && SrtOptions::applyBase(m_listener) &&
            srt_listen_callback(m_listener, &SrtSender::onListenCallback, this) == 0 &&
            srt_bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            srt_listen(m_listener, 64) == 0;
        const int events = SRT_EPOLL_IN | SRT_EPOLL_ERR;
        m_listenerPoll = srt_epoll_create();
        ok = ok && m_listenerPoll >= 0 &&
             srt_epoll_add_usock(m_listenerPoll, m_listener, &events) == 0;
        int length = sizeof address;
        ok = ok && srt_getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) == 0;
        if (!ok) {
            CLog::warning("(%d) SRT cannot listen on port %d: %s\n", m_id.load(), port,
                          srt_getlasterror_str());
            stop();
            return ENOENT;
        }
        m_listenPort = ntohs(address.sin_port);
    }
    setStackSize(static_cast<unsigned int>(LibrarySettings::stackSize()));
    if (!comn::Thread::start()) {
        stop();
        return ENODEV;
    }
    return 0;
}

void SrtSender::stop() {
    comn::Thread::stop();
    std::vector<SRTSOCKET> sockets;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& target : m_targets) {
            collectSockets(*target, sockets);
        }
        collectClientSockets(sockets);
        sockets.insert(sockets.end(), m_closing.begin(), m_closing.end());
        m_closing.clear();
    }
    if (m_listenerPoll >= 0) {
        srt_epoll_release(m_listenerPoll);
        m_listenerPoll = -1;
    }
    if (m_listener != SRT_INVALID_SOCK) {
        sockets.push_back(m_listener);
        m_listener = SRT_INVALID_SOCK;
    }
    for (SRTSOCKET socket : sockets) {
        srt_close(socket);
    }
    m_listenPort = 0;
    if (m_started) {
        m_started = false;
        srt_cleanup();
    }
}

int SrtSender::setOption(const std::string& name, const std::string& value) {
    bool security = false;
    bool bandwidth = false;
    {
        std::lock_guard<std::mutex> lock(m_optionsMutex);
        SrtOptions changed = m_options;
        if (changed.set(name, value) != 0) {
            return EINVAL;
        }
        security = !changed.sameSecurity(m_options);
        bandwidth = changed.maxBandwidth != m_options.maxBandwidth;
        m_options = changed;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_endLinks = m_endLinks || security;
    m_applyBandwidth = m_applyBandwidth || bandwidth;
    m_wake.notify_all();
    return 0;
}

void SrtSender::setStreamRate(int64_t bitsPerSecond) {
    {
        std::lock_guard<std::mutex> lock(m_optionsMutex);
        m_options.inputBandwidth = bitsPerSecond > 0 ? bitsPerSecond / 8 : 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_clock.setRate(bitsPerSecond);
    m_applyBandwidth = true;
    m_wake.notify_all();
}

SrtOptions SrtSender::options() {
    std::lock_guard<std::mutex> lock(m_optionsMutex);
    return m_options;
}

int SrtSender::onListenCallback(void* self, SRTSOCKET socket, int, const sockaddr* peer,
                                const char*) {
    auto* sender = static_cast<SrtSender*>(self);
    const SrtOptions options = sender->options();
    const std::string address = peer != nullptr && peer->sa_family == AF_INET
                                    ? dotted(*reinterpret_cast<const sockaddr_in*>(peer))
                                    : std::string();
    if (!sender->admitCaller(address, options)) {
        srt_setrejectreason(socket, SRT_REJX_OVERLOAD);
        return -1;
    }
    return options.applyTo(socket, false) ? 0 : -1;
}

bool SrtSender::fits(const std::string& address, const SrtOptions& options) const {
    const auto held = m_callersByAddress.find(address);
    const size_t ofAddress = held == m_callersByAddress.end() ? 0 : held->second;
    return m_callerTotal < static_cast<size_t>(options.maxCallers) &&
           ofAddress < static_cast<size_t>(options.maxCallersPerAddress);
}

bool SrtSender::admitCaller(const std::string& address, const SrtOptions& options) {
    std::lock_guard<std::mutex> lock(m_admitMutex);
    if (!fits(address, options)) {
        refuseCaller(address, options);
        return false;
    }
    // Counted at once: until the loop has accepted it, a flood of handshakes would pass.
    ++m_callersByAddress[address];
    ++m_callerTotal;
    if (const uint64_t refused = m_refusing.end(); refused > 0) {
        CLog::warning("(%d) SRT callers accepted again; %llu refused over the limits\n",
                      m_id.load(), static_cast<unsigned long long>(refused));
    }
    return true;
}

void SrtSender::refuseCaller(const std::string& address, const SrtOptions& options) {
    ++m_refusedCallers;
    if (m_refusing.occur()) {
        CLog::warning("(%d) SRT caller %s refused: %zu callers (at most %d, %d per address)\n",
                      m_id.load(), address.c_str(), m_callerTotal, options.maxCallers,
                      options.maxCallersPerAddress);
    }
}

void SrtSender::publishCallers() {
    std::map<std::string, size_t> byAddress;
    for (const auto& client : m_clients) {
        ++byAddress[client->address()];
    }
    std::lock_guard<std::mutex> lock(m_admitMutex);
    m_callersByAddress.swap(byAddress);
    m_callerTotal = m_clients.size();
}

void SrtSender::push(const uint8_t* data, size_t size, bool wakeNow) {
    const int64_t now = monotonicNs();
    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t due = m_clock.due(size, now);  // the clock runs with or without peers
    SrtLink::Block block;
    auto give = [&](SrtLink& link) {
        if (!block) {
            auto copy = std::make_shared<Datagram>();
            copy->assign(nullptr, 0, data, size);  // a block is at most 1316 bytes
            copy->dueNs = due;
            block = std::move(copy);
        }
        link.push(block);
    };
    for (auto& target : m_targets) {
        if (target->link) {
            give(*target->link);
        }
    }
    for (auto& client : m_clients) {
        give(*client);
    }
    if (block) {
        m_pushed = true;
        if (wakeNow) {
            m_wake.notify_one();
        }
    }
}

void SrtSender::wake() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pushed) {
        m_wake.notify_one();
    }
}

bool SrtSender::addTarget(const NetAddress& address) {
    auto target = std::make_unique<Target>();
    target->address = address;
    target->resolved = resolve(address, target->socketAddress);
    if (!target->resolved) {
        CLog::warning("(%d) SRT target %s:%d does not resolve\n", m_id.load(), address.ip().c_str(),
                      address.port());
    }
    target->nextAttempt = Clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& existing : m_targets) {
        if (existing->address == address) {
            return false;
        }
    }
    m_targets.push_back(std::move(target));
    m_wake.notify_one();
    return true;
}

void SrtSender::removeTarget(const NetAddress& address) {
    std::vector<SRTSOCKET> sockets;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_targets.begin(); it != m_targets.end(); ++it) {
            if ((*it)->address == address) {
                collectSockets(**it, sockets);
                m_targets.erase(it);
                break;
            }
        }
    }
    for (SRTSOCKET socket : sockets) {
        srt_close(socket);
    }
}

void SrtSender::removeAllTargets() {
    std::vector<SRTSOCKET> sockets;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& target : m_targets) {
            collectSockets(*target, sockets);
        }
        m_targets.clear();
        collectClientSockets(sockets);
    }
    for (SRTSOCKET socket : sockets) {
        srt_close(socket);
    }
}

std::vector<SrtLinkStats> SrtSender::stats() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<SrtLinkStats> all;
    for (const auto& target : m_targets) {
        if (target->link) {
            all.push_back(target->link->stats());
        } else {
            SrtLinkStats stats;
            stats.counters = target->counters;
            all.push_back(stats);
        }
        all.back().address = target->address.ip();
        all.back().port = target->address.port();
    }
    for (const auto& client : m_clients) {
        all.push_back(client->stats());
    }
    return all;
}

size_t SrtSender::clientCount() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clients.size();
}

size_t SrtSender::connectedTargetCount() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<size_t>(std::count_if(m_targets.begin(), m_targets.end(),
                                             [](const auto& t) { return t->link != nullptr; }));
}

void SrtSender::doStop() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wake.notify_all();
}

int SrtSender::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!isStopping()) {
        // A constant-rate stream's next block may be due before the idle tick.
        const auto wakeAt = std::min(
            Clock::now() + kIdleWake,
            m_nextSendNs == INT64_MAX ? Clock::time_point::max()
                                      : Clock::time_point(std::chrono::nanoseconds(m_nextSendNs)));
        m_wake.wait_until(lock, wakeAt, [this] { return m_pushed || isStopping(); });
        m_pushed = false;
        if (m_endLinks) {
            m_endLinks = false;
            endAllLinks();
        }
        acceptCallers();
        serviceTargets();
        flushLinks();
        publishCallers();
        if (!m_closing.empty()) {
            m_trimUntil = Clock::now() + kTrimFor;
            m_nextTrim = Clock::now() + kTrimEvery;
        }
        closeCollected(lock);
        trimWhenDue(lock);
    }
    flushLinks(true);  // the multiplexer's last blocks, libsrt paces them
    closeCollected(lock);
    return 0;
}

void SrtSender::acceptCallers() {
    if (m_listener == SRT_INVALID_SOCK) {
        return;
    }
    for (;;) {
        SRT_EPOLL_EVENT ready[1];
        if (srt_epoll_uwait(m_listenerPoll, ready, 1, 0) <= 0) {
            return;  // nobody waiting
        }
        sockaddr_in peer{};
        int length = sizeof peer;
        const SRTSOCKET socket =
            srt_accept(m_listener, reinterpret_cast<sockaddr*>(&peer), &length);
        if (socket == SRT_INVALID_SOCK) {
            return;  // none waiting (or the listener failed: nothing to do about it here)
        }
        const std::string address = dotted(peer);
        // The listen callback let it in, but callers it admitted at the same time may
        // together pass a limit: the callers connected decide.
        const SrtOptions options = this->options();
        const size_t ofAddress = static_cast<size_t>(
            std::count_if(m_clients.begin(), m_clients.end(),
                          [&](const auto& client) { return client->address() == address; }));
        if (m_clients.size() >= static_cast<size_t>(options.maxCallers) ||
            ofAddress >= static_cast<size_t>(options.maxCallersPerAddress)) {
            m_closing.push_back(socket);
            std::lock_guard<std::mutex> admit(m_admitMutex);
            refuseCaller(address, options);
            continue;
        }
        CLog::debug("(%d) SRT caller %s:%d connected\n", m_id.load(), address.c_str(),
                    ntohs(peer.sin_port));
        m_clients.push_back(std::make_unique<SrtLink>(socket, address, ntohs(peer.sin_port)));
    }
}

void SrtSender::serviceTargets() {
    const Clock::time_point now = Clock::now();
    for (auto& target : m_targets) {
        if (target->link) {
            continue;  // flushLinks watches links that are up
        }
        if (target->connecting != SRT_INVALID_SOCK) {
            const SRT_SOCKSTATUS state = srt_getsockstate(target->connecting);
            if (state == SRTS_CONNECTED) {
                CLog::debug("(%d) SRT target %s:%d connected\n", m_id.load(),
                            target->address.ip().c_str(), target->address.port());
                target->link = std::make_unique<SrtLink>(target->connecting, target->address.ip(),
                                                         target->address.port());
                target->link->setCounters(target->counters);
                target->connecting = SRT_INVALID_SOCK;
                target->backoff = std::chrono::milliseconds(0);
                target->failureLogged = false;
            } else if (state != SRTS_CONNECTING && state != SRTS_OPENED && state != SRTS_INIT) {
                if (!target->failureLogged) {
                    CLog::warning("(%d) SRT target %s:%d cannot connect: %s\n", m_id.load(),
                                  target->address.ip().c_str(), target->address.port(),
                                  srt_rejectreason_str(srt_getrejectreason(target->connecting)));
                    target->failureLogged = true;
                }
                m_closing.push_back(target->connecting);
                target->connecting = SRT_INVALID_SOCK;
                endTargetLink(*target, false);
            }
            continue;
        }
        if (!target->resolved || now < target->nextAttempt) {
            continue;
        }
        const SrtOptions options = this->options();
        const SRTSOCKET socket = srt_create_socket();
        if (socket == SRT_INVALID_SOCK) {
            endTargetLink(*target, false);
            continue;
        }
        if (!SrtOptions::applyBase(socket) || !options.applyTo(socket, true) ||
            srt_connect(socket, reinterpret_cast<const sockaddr*>(&target->socketAddress),
                        sizeof target->socketAddress) == SRT_ERROR) {
            m_closing.push_back(socket);
            endTargetLink(*target, false);
            continue;
        }
        target->connecting = socket;
    }
}

void SrtSender::endTargetLink(Target& target, bool wasUp) {
    if (target.link) {
        target.counters = target.link->counters();
        m_closing.push_back(target.link->release());
        target.link.reset();
    }
    if (wasUp) {
        target.backoff = kFirstBackoff;
    } else {
        target.backoff = target.backoff.count() == 0
                             ? kFirstBackoff
                             : std::min(target.backoff * 2, kLongestBackoff);
    }
    target.nextAttempt = Clock::now() + target.backoff;
}

void SrtSender::flushLinks(bool all) {
    const bool applyBandwidth = m_applyBandwidth;
    SrtOptions bandwidth;
    if (applyBandwidth) {
        m_applyBandwidth = false;
        bandwidth = options();
    }
    // A constant-rate stream: only blocks due now, at most a burst per link, and no burst
    // sooner than the last one allows (a push may wake the thread at any time).
    const bool paced = m_clock.rate() > 0 && !all;
    const int64_t now = monotonicNs();
    const bool mayBurst = !paced || now >= m_burstFloorNs;
    size_t handedMost = 0;
    int64_t earliestDue = INT64_MAX;
    const auto flush = [&](SrtLink& link) {
        if (applyBandwidth) {
            bandwidth.applyBandwidth(link.socket());
        }
        size_t handed = 0;
        const bool ok = !mayBurst || link.flush(paced ? now : INT64_MAX,
                                                paced ? SendPace::kBurst : SIZE_MAX, handed);
        handedMost = std::max(handedMost, handed);
        earliestDue = std::min(earliestDue, link.nextDueNs());
        return ok;
    };
    for (auto& target : m_targets) {
        if (!target->link) {
            continue;
        }
        if (!flush(*target->link) || !target->link->alive()) {
            CLog::warning("(%d) SRT target %s:%d disconnected\n", m_id.load(),
                          target->address.ip().c_str(), target->address.port());
            endTargetLink(*target, true);
        }
    }
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        SrtLink& client = **it;
        if (flush(client) && client.alive()) {
            ++it;
            continue;
        }
        CLog::debug("(%d) SRT caller %s disconnected\n", m_id.load(),
                    client.stats().address.c_str());
        m_closing.push_back(client.release());
        it = m_clients.erase(it);
    }
    if (!paced) {
        m_nextSendNs = INT64_MAX;
        return;
    }
    if (mayBurst && (handedMost > 0 || earliestDue <= now)) {
        // The next burst no sooner than this one takes at twice the rate, counted from when
        // it was handed over: a block on time lets the next go at its own due time.
        m_burstFloorNs = m_clock.nextBurst(monotonicNs(), handedMost * Datagram::kMaxSize, 0);
    }
    m_nextSendNs = earliestDue == INT64_MAX ? INT64_MAX : std::max(earliestDue, m_burstFloorNs);
}

void SrtSender::endAllLinks() {
    for (auto& target : m_targets) {
        collectSockets(*target, m_closing);
        target->backoff = std::chrono::milliseconds(0);
        target->nextAttempt = Clock::now();
    }
    collectClientSockets(m_closing);
}

void SrtSender::collectSockets(Target& target, std::vector<SRTSOCKET>& sockets) {
    if (target.connecting != SRT_INVALID_SOCK) {
        sockets.push_back(target.connecting);
        target.connecting = SRT_INVALID_SOCK;
    }
    if (target.link) {
        target.counters = target.link->counters();
        sockets.push_back(target.link->release());
        target.link.reset();
    }
}

void SrtSender::collectClientSockets(std::vector<SRTSOCKET>& sockets) {
    for (auto& client : m_clients) {
        sockets.push_back(client->release());
    }
    m_clients.clear();
}

void SrtSender::trimWhenDue(std::unique_lock<std::mutex>& lock) {
    const Clock::time_point now = Clock::now();
    if (now < m_nextTrim || now > m_trimUntil) {
        return;
    }
    m_nextTrim = now + kTrimEvery;
    // libsrt's threads allocate from arenas of their own, which glibc keeps after a free;
    // without this, the memory of callers that left stays with the process.
    lock.unlock();
    malloc_trim(0);
    lock.lock();
}

void SrtSender::closeCollected(std::unique_lock<std::mutex>& lock) {
    if (m_closing.empty()) {
        return;
    }
    std::vector<SRTSOCKET> sockets;
    sockets.swap(m_closing);
    lock.unlock();
    for (SRTSOCKET socket : sockets) {
        srt_close(socket);
    }
    lock.lock();
}

}  // namespace av
