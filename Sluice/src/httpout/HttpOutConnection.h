#pragma once

#include <atomic>
#include <chrono>
#include <memory>

#include "HttpMessageParser.h"
#include "HttpOutMount.h"
#include "TcpMediaCasterConnection.h"

namespace av {

/// Where a connection sends the requests it has read (the server), and nothing more.
class HttpOutRouter {
public:
    /// Fills reply for a request of path from peer; a 404 reply when no mount has it.
    virtual void route(const std::string& path, uint32_t peer, bool head, HttpOutReply& reply) = 0;

protected:
    ~HttpOutRouter() = default;
};

/// A client of an HttpOutServer. It reads requests one after the other (keep-alive) and
/// answers each with what the router finds: a playlist, a segment, an error, or the start of
/// an FLV stream, after which it reads nothing more and receives the stream's tags with the
/// TCP caster's flow control (jam rules). A client that has not completed a request within
/// the request time-out of connecting, or of its previous answer, is closed. A client whose
/// unsent answers pass kMaxBuffered is closed too: it asks faster than it reads.
class HttpOutConnection : public TcpMediaCasterConnection {
public:
    static constexpr int kRequestTimeoutMs = 10000;

    HttpOutConnection(HttpOutRouter& router, int requestTimeoutMs);
    ~HttpOutConnection() override;

    int onOpen(int fd) override;
    void onRead(bufferevent* bev) override;
    void onEvent(bufferevent* bev, short events) override;

    /// The FLV stream this client watches (null: none); only compared, never followed.
    const void* flvStream() const { return m_flvStream.load(); }
    /// Writer, table lock held: the stream's header has been sent to this client.
    bool flvStarted() const { return m_flvStarted; }
    void setFlvStarted() { m_flvStarted = true; }
    /// Writer, table lock held: after a jam the client waits for a key frame, so that its
    /// player never gets pictures whose references were dropped.
    bool flvAwaitsKey() const { return m_flvAwaitsKey; }
    void setFlvAwaitsKey(bool awaits) { m_flvAwaitsKey = awaits; }
    /// Writer, table lock held: the client's first bytes of the stream (header, then tag).
    void sendFlv(const std::shared_ptr<MediaPacket>& packet) { queueMediaPacket(packet); }

protected:
    const char* className() const override { return "HttpOutConnection"; }
    bool readyToSend() const override { return m_flvStream.load() != nullptr; }

private:
    void armRequestTimeout(bufferevent* bev);
    void answer(bufferevent* bev, const HttpMessage& request);

    HttpOutRouter& m_router;
    const int m_requestTimeoutMs;
    std::chrono::steady_clock::time_point m_requestDeadline;
    HttpMessageParser m_parser;
    std::atomic<const void*> m_flvStream{nullptr};
    bool m_flvStarted = false;
    bool m_flvAwaitsKey = false;
};

}  // namespace av
