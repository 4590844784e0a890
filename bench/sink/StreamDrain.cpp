#include "StreamDrain.h"

#include <sys/epoll.h>

#include "BenchClock.h"

namespace {

constexpr unsigned kRead = EPOLLIN;

}  // namespace

bool StreamDrain::open(const std::string& host, int port, int fast, int stalled, bool http,
                       const std::string& path, bool flv, DrainStats& stats, std::string& error) {
    m_http = http;
    m_flv = flv;
    m_request = "GET " + path + " HTTP/1.1\r\nHost: " + host + ":" + std::to_string(port) +
                "\r\nUser-Agent: bench-sink\r\n\r\n";
    stats.bytes.assign(fast, 0);
    stats.stalledBytes.assign(stalled, 0);
    sockaddr_in addr{};
    if (!loopbackAddress(host, port, addr, error)) {
        return false;
    }
    for (int i = 0; i < fast + stalled; ++i) {
        auto client = std::make_unique<Client>(http, flv);
        client->stalled = i >= fast;
        client->receiver = client->stalled ? static_cast<size_t>(i - fast) : static_cast<size_t>(i);
        if (!client->connection.connect(addr, error)) {
            return false;
        }
        m_clients.push_back(std::move(client));
    }
    return true;
}

unsigned StreamDrain::onEvent(size_t index, unsigned events, DrainStats& stats) {
    Client& client = *m_clients[index];
    if (!client.connection.connected()) {
        return onConnected(client, stats);
    }
    if ((events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0) {
        return onReadable(client, stats);
    }
    return kRead;
}

unsigned StreamDrain::onConnected(Client& client, DrainStats& stats) {
    if (!client.connection.finishConnect()) {
        return end(client, true, stats);
    }
    if (m_http) {
        return client.connection.send(m_request) ? kRead : end(client, true, stats);
    }
    return client.stalled ? 0 : kRead;
}

unsigned StreamDrain::onReadable(Client& client, DrainStats& stats) {
    client.pendingPayload = 0;
    uint64_t wire = 0;
    const HttpConnection::Read read = client.connection.read(wire);
    if (read != HttpConnection::Read::kMore) {
        return end(client, read == HttpConnection::Read::kFailed, stats);
    }
    if (wire == 0) {
        return kRead;
    }
    if (client.stalled) {
        stats.stalledBytes[client.receiver] += client.pendingPayload;
        stats.wireBytes += wire;
        // From here on it never reads again: its backlog grows at the sender.
        return m_http && !client.connection.headerDone() ? kRead : 0;
    }
    stats.arrived(client.receiver, client.pendingPayload, wire, monotonicNs());
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

bool StreamDrain::ready() const {
    for (const auto& client : m_clients) {
        if (!client->connection.connected() || (m_http && !client->connection.headerDone())) {
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

void StreamDrain::finish(DrainStats& stats) const {
    if (!m_flv) {
        return;
    }
    stats.packets.assign(stats.bytes.size(), 0);
    for (const auto& client : m_clients) {
        if (!client->stalled) {
            stats.packets[client->receiver] = client->flv.frames();
        }
        stats.errors += client->flv.broken() ? 1 : 0;
    }
}
