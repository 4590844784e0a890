#include "SrtDrain.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <chrono>
#include <thread>

#include "BenchClock.h"

namespace {

// A connect to a port nobody listens on yet waits this long before the next try.
constexpr int kConnectAttemptMs = 300;
constexpr auto kRetryPause = std::chrono::milliseconds(50);

void setInt(SRTSOCKET socket, SRT_SOCKOPT option, int value) {
    srt_setsockflag(socket, option, &value, sizeof value);
}

SRTSOCKET connectOne(const sockaddr_in& addr, int latencyMs, int64_t deadlineNs) {
    while (monotonicNs() < deadlineNs) {
        const SRTSOCKET socket = srt_create_socket();
        if (socket == SRT_INVALID_SOCK) {
            return SRT_INVALID_SOCK;
        }
        const int live = SRTT_LIVE;
        srt_setsockflag(socket, SRTO_TRANSTYPE, &live, sizeof live);
        setInt(socket, SRTO_LATENCY, latencyMs);
        setInt(socket, SRTO_CONNTIMEO, kConnectAttemptMs);
        if (srt_connect(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) !=
            SRT_ERROR) {
            return socket;
        }
        srt_close(socket);
        std::this_thread::sleep_for(kRetryPause);
    }
    return SRT_INVALID_SOCK;
}

}  // namespace

SrtDrain::~SrtDrain() {
    for (SRTSOCKET socket : m_sockets) {
        srt_close(socket);
    }
    if (m_epoll >= 0) {
        srt_epoll_release(m_epoll);
    }
    if (m_started) {
        srt_cleanup();
    }
}

bool SrtDrain::open(const std::string& host, int port, int count, int latencyMs,
                    int connectTimeoutS, DrainStats& stats, std::string& error) {
    stats.bytes.assign(count, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
        error = "not an IPv4 address: " + host;
        return false;
    }
    srt_startup();
    m_started = true;
    srt_setloglevel(LOG_ERR);
    m_epoll = srt_epoll_create();
    const int64_t deadline = monotonicNs() + connectTimeoutS * 1000000000LL;
    for (int i = 0; i < count; ++i) {
        const SRTSOCKET socket = connectOne(addr, latencyMs, deadline);
        if (socket == SRT_INVALID_SOCK) {
            error = std::string("SRT connect: ") + srt_getlasterror_str();
            return false;
        }
        const int no = 0;
        srt_setsockflag(socket, SRTO_RCVSYN, &no, sizeof no);
        const int events = SRT_EPOLL_IN | SRT_EPOLL_ERR;
        srt_epoll_add_usock(m_epoll, socket, &events);
        m_sockets.push_back(socket);
        m_ended.push_back(false);
    }
    return true;
}

void SrtDrain::poll(int timeoutMs, DrainStats& stats) {
    SRT_EPOLL_EVENT ready[64];
    const int n = srt_epoll_uwait(m_epoll, ready, 64, timeoutMs);
    for (int i = 0; i < n; ++i) {
        size_t index = 0;
        while (index < m_sockets.size() && m_sockets[index] != ready[i].fd) {
            ++index;
        }
        if (index == m_sockets.size()) {
            continue;
        }
        char message[1500];
        for (;;) {
            const int got = srt_recvmsg(m_sockets[index], message, sizeof message);
            if (got > 0) {
                ++stats.datagrams;
                stats.arrived(index, static_cast<uint64_t>(got), static_cast<uint64_t>(got),
                              monotonicNs());
                continue;
            }
            if (srt_getlasterror(nullptr) != SRT_EASYNCRCV) {
                m_ended[index] = true;
                ++stats.closed;
                srt_epoll_remove_usock(m_epoll, m_sockets[index]);
            }
            break;
        }
    }
}

bool SrtDrain::allClosed() const {
    for (bool ended : m_ended) {
        if (!ended) {
            return false;
        }
    }
    return !m_ended.empty();
}
