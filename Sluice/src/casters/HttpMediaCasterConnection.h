#pragma once

#include "ByteBuffer.h"
#include "HttpMessageParser.h"
#include "TcpMediaCasterConnection.h"

namespace av {

/// A client of the HTTP caster. Nothing is sent until the client has sent one complete
/// HTTP message (any method, any path, even a response); the connection then writes the
/// response header and, from the next block on, the stream as HTTP chunks. Every further
/// complete message writes the header again (between two chunks). There is no error
/// response and no authentication. Flow control and threads as for the TCP connection;
/// requests are read and the header written on the server's loop.
class HttpMediaCasterConnection : public TcpMediaCasterConnection {
public:
    /// The response header: a never-ending chunked MPEG-TS body.
    static constexpr const char* kResponseHeader =
        "HTTP/1.1 200 OK\r\nCache-Control: no-cache\r\nContent-Type: video/MP2T\r\n"
        "Transfer-Encoding: chunked\r\n\r\n";
    /// The state once the response header is in the output buffer.
    static constexpr int kStreaming = 2;

    HttpMediaCasterConnection() = default;
    ~HttpMediaCasterConnection() override;

    /// Reads what the client sent and parses it; each complete message writes the header.
    void onRead(bufferevent* bev) override;

    bool isStreaming() const { return m_state.load() == kStreaming; }

protected:
    const char* className() const override { return "HttpMediaCasterConnection"; }
    bool readyToSend() const override { return isStreaming(); }

private:
    ByteBuffer m_readBuffer;
    HttpMessageParser m_parser;
};

}  // namespace av
