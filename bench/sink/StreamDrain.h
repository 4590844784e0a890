#pragma once

#include <http_parser.h>

#include <memory>
#include <string>
#include <vector>

#include "DrainStats.h"

/// TCP clients of one stream server on 127.0.0.1, all non-blocking, for one epoll loop. In
/// HTTP mode each client sends one GET and reads a response through http_parser, so only the
/// body (chunk framing removed) counts as payload. Stalled clients connect (and receive the
/// response header) like the others and then never read again.
class StreamDrain {
public:
    StreamDrain() = default;
    ~StreamDrain();
    StreamDrain(const StreamDrain&) = delete;
    StreamDrain& operator=(const StreamDrain&) = delete;

    /// Starts connecting fast + stalled clients to host:port.
    bool open(const std::string& host, int port, int fast, int stalled, bool http,
              DrainStats& stats, std::string& error);
    size_t size() const { return m_clients.size(); }
    int descriptor(size_t index) const { return m_clients[index]->fd; }

    /// Handles epoll events of client index. Returns the events the client wants next time
    /// (0: take it out of the loop).
    unsigned onEvent(size_t index, unsigned events, DrainStats& stats);

    /// Every client is connected and, for HTTP, has its response header.
    bool ready() const;
    /// Every fast client's connection has ended.
    bool allClosed() const;

private:
    struct Client {
        StreamDrain* owner = nullptr;
        int fd = -1;
        size_t receiver = 0;  // index in DrainStats::bytes or stalledBytes
        bool stalled = false;
        bool connected = false;
        bool headerDone = false;
        bool ended = false;
        uint64_t pendingPayload = 0;
        http_parser parser{};
    };

    unsigned onConnected(Client& client, DrainStats& stats);
    unsigned onReadable(Client& client, DrainStats& stats);
    unsigned end(Client& client, bool failed, DrainStats& stats);
    static int onHeadersComplete(http_parser* parser);
    static int onBody(http_parser* parser, const char* at, size_t length);

    std::vector<std::unique_ptr<Client>> m_clients;
    std::string m_request;
    bool m_http = false;
};
