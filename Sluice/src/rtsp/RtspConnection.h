#pragma once

#include <event2/buffer.h>
#include <event2/bufferevent.h>

#include <cstdint>
#include <string>

#include "RtspDigestAuth.h"
#include "RtspSession.h"

namespace av {

class RtspServer;

/// One client's RTSP connection: its bufferevent, its address, its digest nonce, the time
/// its pending request began and its last activity. Sessions of a TCP client write their
/// interleaved packets through it. Loop thread only; owned by the server, which frees it
/// (and every session made on it) when it closes.
class RtspConnection final : public RtspInterleavedSink {
public:
    RtspConnection(RtspServer* server, uint64_t id, bufferevent* bev, std::string peerAddress,
                   uint16_t peerPort, std::string localAddress, int64_t nowMs)
        : m_server(server),
          m_id(id),
          m_bev(bev),
          m_peerAddress(std::move(peerAddress)),
          m_peerPort(peerPort),
          m_localAddress(std::move(localAddress)),
          m_lastActivityMs(nowMs) {}
    ~RtspConnection() { bufferevent_free(m_bev); }
    RtspConnection(const RtspConnection&) = delete;
    RtspConnection& operator=(const RtspConnection&) = delete;

    RtspServer* server() const { return m_server; }
    uint64_t id() const { return m_id; }
    bufferevent* bev() const { return m_bev; }
    const std::string& peerAddress() const { return m_peerAddress; }
    uint16_t peerPort() const { return m_peerPort; }
    /// The server's address as this client reached it (for the SDP and Content-Base).
    const std::string& localAddress() const { return m_localAddress; }

    size_t backlog() const override { return evbuffer_get_length(bufferevent_get_output(m_bev)); }
    void writeBytes(const void* data, size_t size) override {
        evbuffer_add(bufferevent_get_output(m_bev), data, size);
    }
    /// Straight to the socket while nothing waits before them (no copy, no turn of the
    /// loop); what the socket does not take waits in the connection's buffer.
    void writeParts(const iovec* parts, size_t count) override;

    RtspDigestAuth::Nonce& nonce() { return m_nonce; }
    int64_t lastActivityMs() const { return m_lastActivityMs; }
    void touch(int64_t nowMs) { m_lastActivityMs = nowMs; }
    /// Monotonic time at which the request now arriving began; 0 when none is pending.
    int64_t partialSinceMs() const { return m_partialSinceMs; }
    void setPartialSince(int64_t ms) { m_partialSinceMs = ms; }
    /// Sessions made on this connection.
    int sessionCount() const { return m_sessions; }
    void addSession(int delta) { m_sessions += delta; }
    /// Answer written, connection to close once it is sent.
    bool closing() const { return m_closing; }
    void setClosing() { m_closing = true; }

private:
    RtspServer* const m_server;
    const uint64_t m_id;
    bufferevent* const m_bev;
    const std::string m_peerAddress;
    const uint16_t m_peerPort;
    const std::string m_localAddress;
    RtspDigestAuth::Nonce m_nonce;
    int64_t m_lastActivityMs = 0;
    int64_t m_partialSinceMs = 0;
    int m_sessions = 0;
    bool m_closing = false;
};

}  // namespace av
