#include "StreamDrain.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "BenchClock.h"

namespace {

// One read takes at most this much; large reads keep the receiver's share of CPU small.
constexpr size_t kReadBytes = 256 * 1024;
constexpr unsigned kRead = EPOLLIN;

}  // namespace

StreamDrain::~StreamDrain() {
    for (auto& client : m_clients) {
        if (client->fd >= 0) {
            ::close(client->fd);
        }
    }
}

bool StreamDrain::open(const std::string& host, int port, int fast, int stalled, bool http,
                       DrainStats& stats, std::string& error) {
    m_http = http;
    m_request = "GET / HTTP/1.1\r\nHost: " + host + ":" + std::to_string(port) +
                "\r\nUser-Agent: bench-sink\r\n\r\n";
    stats.bytes.assign(fast, 0);
    stats.stalledBytes.assign(stalled, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
        error = "not an IPv4 address: " + host;
        return false;
    }
    for (int i = 0; i < fast + stalled; ++i) {
        auto client = std::make_unique<Client>();
        client->owner = this;
        client->stalled = i >= fast;
        client->receiver = client->stalled ? static_cast<size_t>(i - fast) : static_cast<size_t>(i);
        client->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (client->fd < 0) {
            error = std::string("socket: ") + std::strerror(errno);
            return false;
        }
        if (::connect(client->fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
            errno != EINPROGRESS) {
            error = std::string("connect: ") + std::strerror(errno);
            return false;
        }
        http_parser_init(&client->parser, HTTP_RESPONSE);
        client->parser.data = client.get();
        m_clients.push_back(std::move(client));
    }
    return true;
}

unsigned StreamDrain::onEvent(size_t index, unsigned events, DrainStats& stats) {
    Client& client = *m_clients[index];
    if (!client.connected) {
        return onConnected(client, stats);
    }
    if ((events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0) {
        return onReadable(client, stats);
    }
    return kRead;
}

unsigned StreamDrain::onConnected(Client& client, DrainStats& stats) {
    int failure = 0;
    socklen_t length = sizeof failure;
    ::getsockopt(client.fd, SOL_SOCKET, SO_ERROR, &failure, &length);
    if (failure != 0) {
        return end(client, true, stats);
    }
    client.connected = true;
    if (m_http) {
        // A few dozen bytes into an empty socket buffer: one write always takes all of them.
        if (::send(client.fd, m_request.data(), m_request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(m_request.size())) {
            return end(client, true, stats);
        }
        return kRead;
    }
    return client.stalled ? 0 : kRead;
}

unsigned StreamDrain::onReadable(Client& client, DrainStats& stats) {
    static char buffer[kReadBytes];
    const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0) {
        return end(client, false, stats);
    }
    if (n < 0) {
        return errno == EAGAIN || errno == EINTR ? kRead : end(client, true, stats);
    }
    uint64_t payload = static_cast<uint64_t>(n);
    if (m_http) {
        static const http_parser_settings settings = [] {
            http_parser_settings s{};
            s.on_headers_complete = &StreamDrain::onHeadersComplete;
            s.on_body = &StreamDrain::onBody;
            return s;
        }();
        client.pendingPayload = 0;
        const size_t parsed =
            http_parser_execute(&client.parser, &settings, buffer, static_cast<size_t>(n));
        if (parsed != static_cast<size_t>(n) || HTTP_PARSER_ERRNO(&client.parser) != HPE_OK) {
            return end(client, true, stats);
        }
        payload = client.pendingPayload;
    }
    if (client.stalled) {
        stats.stalledBytes[client.receiver] += payload;
        stats.wireBytes += static_cast<uint64_t>(n);
        // From here on it never reads again: its backlog grows at the sender.
        return m_http && !client.headerDone ? kRead : 0;
    }
    stats.arrived(client.receiver, payload, static_cast<uint64_t>(n), monotonicNs());
    return kRead;
}

unsigned StreamDrain::end(Client& client, bool failed, DrainStats& stats) {
    if (!client.ended) {
        client.ended = true;
        if (failed) {
            ++stats.errors;
        } else if (!client.stalled) {
            ++stats.closed;
        }
    }
    return 0;
}

int StreamDrain::onHeadersComplete(http_parser* parser) {
    static_cast<Client*>(parser->data)->headerDone = true;
    return 0;
}

int StreamDrain::onBody(http_parser* parser, const char*, size_t length) {
    static_cast<Client*>(parser->data)->pendingPayload += length;
    return 0;
}

bool StreamDrain::ready() const {
    for (const auto& client : m_clients) {
        if (!client->connected || (m_http && !client->headerDone)) {
            return false;
        }
    }
    return true;
}

bool StreamDrain::allClosed() const {
    for (const auto& client : m_clients) {
        if (!client->stalled && !client->ended) {
            return false;
        }
    }
    return true;
}
