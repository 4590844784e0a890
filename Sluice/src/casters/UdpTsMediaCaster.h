#pragma once

#include <vector>

#include "BasicTsMediaCaster.h"
#include "Socket.h"

namespace av {

/// Casts the transport stream as plain UDP datagrams: every multiplexer block (at most
/// 1316 bytes) is sent at once, from the writing thread, to every target in list order.
/// Targets may be unicast or multicast (system defaults: TTL 1, loopback on). No queue, no
/// retransmission, no thread of its own.
///
/// Within one block, every fifth send is preceded by a 1 ms pause (mutex held), which
/// spreads bursts towards many targets; with four targets or fewer there is no pause.
class UdpTsMediaCaster : public BasicTsMediaCaster {
public:
    /// Pause before every fifth send of one block.
    static constexpr int kSendsBetweenPauses = 4;
    static constexpr int kPauseMs = 1;

    UdpTsMediaCaster() = default;
    /// Closes the caster (the trailer still goes out) and its socket.
    ~UdpTsMediaCaster() override;

    /// Binds a datagram socket to ip (empty: any) and port (0: ephemeral), sets its send
    /// buffer and opens the multiplexer. 0, ENODEV when the socket cannot be created or bound,
    /// or the multiplexer's status (the socket then stays bound until close).
    int open(const std::string& ip, uint16_t port, const MediaCasterConfig& config) override;
    /// Closes the multiplexer (its trailer is still sent) and the socket.
    void close() override;
    /// The socket is bound.
    bool isOpen() override;

    void onMuxData(const uint8_t* data, size_t size, int64_t pts, int flags) override;

    /// The bound local address (0.0.0.0 port 0 when closed).
    SocketAddress localAddress();

protected:
    virtual void logOpen(const std::string& ip, uint16_t port);
    /// SO_SNDBUF for the socket; the library-wide send buffer setting.
    virtual int sendBufferSize() const;
    virtual void logSendFailure(const NetAddress& target, size_t size);
    /// Sends size bytes to every target (mutex held by the caller).
    void sendToTargets(const uint8_t* data, size_t size);

private:
    void pause();
    void refreshResolvedTargets();

    comn::Socket m_socket;
    int m_sendCount = 0;
    // Targets with their socket addresses, resolved once per change of the target list.
    std::vector<std::pair<NetAddress, SocketAddress>> m_resolved;
    uint64_t m_resolvedVersion = ~uint64_t{0};
};

}  // namespace av
