#pragma once

#include <chrono>

#include "ByteBuffer.h"
#include "HttpMessageParser.h"
#include "TcpMediaCasterConnection.h"

namespace av {

/// A client of the HTTP caster. Nothing is sent until the client has sent one complete
/// HTTP message (any method, any path, even a response); the connection then writes the
/// response header and, from the next block on, the stream as HTTP chunks. Whatever the
/// client sends after that first message is discarded unread: the stream is the only answer
/// a connection ever gets, and a client repeating requests without reading must not queue a
/// header per request. There is no error response and no authentication. A client that has sent no
/// complete message within kRequestTimeoutMs of connecting is closed (it would otherwise hold its
/// descriptor and memory for ever). Flow control and threads as for the TCP connection; requests
/// are read, the header written and the time-out handled on the server's loop.
class HttpMediaCasterConnection : public TcpMediaCasterConnection {
public:
    /// The response header: a never-ending chunked MPEG-TS body.
    static constexpr const char* kResponseHeader =
        "HTTP/1.1 200 OK\r\nCache-Control: no-cache\r\nContent-Type: video/MP2T\r\n"
        "Transfer-Encoding: chunked\r\n\r\n";
    /// The state once the response header is in the output buffer.
    static constexpr int kStreaming = 2;

    /// Time a client has from connecting to completing its first request.
    static constexpr int kRequestTimeoutMs = 10000;

    explicit HttpMediaCasterConnection(int requestTimeoutMs = kRequestTimeoutMs);
    ~HttpMediaCasterConnection() override;

    /// As the TCP connection, and the request time-out starts.
    int onOpen(int fd) override;
    /// Reads what the client sent and parses it until the first complete message, which
    /// writes the header; afterwards discards it (as the TCP connection does).
    void onRead(bufferevent* bev) override;
    /// Logs how many reads could not be parsed when there was more than one, then as the TCP
    /// connection.
    void onClose() override;
    /// A request time-out closes the client; otherwise as the TCP connection.
    void onEvent(bufferevent* bev, short events) override;

    bool isStreaming() const { return m_state.load() == kStreaming; }

protected:
    const char* className() const override { return "HttpMediaCasterConnection"; }
    bool readyToSend() const override { return isStreaming(); }

private:
    /// Read time-out for what is left of the request time; none once streaming.
    void armRequestTimeout(bufferevent* bev);
    /// Ends the parser's episode of failures, logging its count; bufferevent lock held.
    void endParseFailures();

    int m_requestTimeoutMs;
    std::chrono::steady_clock::time_point m_requestDeadline;
    ByteBuffer m_readBuffer;
    HttpMessageParser m_parser;
};

}  // namespace av
