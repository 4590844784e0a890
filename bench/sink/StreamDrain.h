#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DrainStats.h"
#include "FlvTagCounter.h"
#include "HttpConnection.h"

/// TCP clients of one stream server on 127.0.0.1, all non-blocking, for one epoll loop. In
/// HTTP mode each client sends one GET for path and reads a response through http_parser, so
/// only the body (chunk framing removed) counts as payload; with flv the body's media tags are
/// counted too (DrainStats::packets). Stalled clients connect (and receive the response
/// header) like the others and then never read again.
class StreamDrain {
public:
    StreamDrain() = default;
    StreamDrain(const StreamDrain&) = delete;
    StreamDrain& operator=(const StreamDrain&) = delete;

    /// Starts connecting fast + stalled clients to host:port.
    bool open(const std::string& host, int port, int fast, int stalled, bool http,
              const std::string& path, bool flv, DrainStats& stats, std::string& error);
    size_t size() const { return m_clients.size(); }
    int descriptor(size_t index) const { return m_clients[index]->connection.fd(); }

    /// Handles epoll events of client index. Returns the events the client wants next time
    /// (0: take it out of the loop).
    unsigned onEvent(size_t index, unsigned events, DrainStats& stats);

    /// Every client is connected and, for HTTP, has its response header.
    bool ready() const;
    /// Every fast client's connection has ended.
    bool allClosed() const;
    /// With flv: each fast client's media tags into stats.packets.
    void finish(DrainStats& stats) const;

private:
    struct Client {
        Client(bool http, bool countTags)
            : connection(http, [this, countTags](const char* data, size_t n) {
                  pendingPayload += n;
                  if (countTags) {
                      flv.feed(data, n);
                  }
              }) {}
        size_t receiver = 0;  // index in DrainStats::bytes or stalledBytes
        bool stalled = false;
        bool ended = false;
        uint64_t pendingPayload = 0;
        FlvTagCounter flv;
        HttpConnection connection;
    };

    unsigned onConnected(Client& client, DrainStats& stats);
    unsigned onReadable(Client& client, DrainStats& stats);
    unsigned end(Client& client, bool failed, DrainStats& stats);

    std::vector<std::unique_ptr<Client>> m_clients;
    std::string m_request;
    bool m_http = false;
    bool m_flv = false;
};
