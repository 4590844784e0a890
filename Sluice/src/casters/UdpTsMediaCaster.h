#pragma once

#include <vector>

#include "BasicTsMediaCaster.h"
#include "PacedDatagramSender.h"
#include "Socket.h"

namespace av {

/// Casts the transport stream as plain UDP datagrams: every multiplexer block (at most
/// 1316 bytes) becomes one datagram for every target, in list order. Targets may be unicast
/// or multicast (system defaults: TTL 1, loopback on). No retransmission.
///
/// The writing thread only queues each block (one copy, shared by all targets); the
/// caster's PacedDatagramSender sends them from its own thread, paced by the monotonic
/// clock, at most four datagrams back to back per target, so sluice_write never waits for
/// the network. The queue is bounded: if the network cannot take the rate, the oldest
/// datagrams are dropped and each overflow episode is logged once. close() sends what is
/// queued (the multiplexer's trailer included) before it returns.
class UdpTsMediaCaster : public BasicTsMediaCaster, private DatagramSendObserver {
public:
    UdpTsMediaCaster() = default;
    /// Closes the caster (the trailer still goes out) and its socket.
    ~UdpTsMediaCaster() override;

    /// Binds a datagram socket to ip (empty: any) and port (0: ephemeral), sets its send
    /// buffer, starts the sender and opens the multiplexer. 0, ENODEV when the socket cannot
    /// be created or bound, or the multiplexer's status (the socket then stays bound until
    /// close).
    int open(const std::string& ip, uint16_t port, const MediaCasterConfig& config) override;
    /// Closes the multiplexer, sends everything queued, stops the sender, closes the socket.
    void close() override;
    /// The socket is bound.
    bool isOpen() override;
    uint16_t localPort() override { return localAddress().getPort(); }

    /// Resolves a host name once, here, outside the caster's lock (the writer never waits
    /// for a name server); a name that does not resolve is kept as a target but gets
    /// nothing (logged once). Adding or removing costs the same at any number of targets.
    bool addTarget(const std::string& ip, uint16_t port) override;
    void removeTarget(const std::string& ip, uint16_t port) override;
    void removeAllTarget() override;

    /// The options of UDP and RTP casters: "muxrate" (bits per second, 0 = variable), a
    /// constant-rate stream sent paced by its own byte clock; "gather_us" (0..kMaxGatherUs),
    /// how far ahead of their due time datagrams may join one send (PacedDatagramSender::
    /// setGather); "priority" (0..99), the real-time priority of the sending thread
    /// (PacedDatagramSender::setPriority).
    static constexpr int64_t kMaxGatherUs = 50000;
    int setOption(const std::string& name, const std::string& value) override;

    void onMuxData(const uint8_t* data, size_t size, int64_t pts, int flags) override;

    /// The bound local address (0.0.0.0 port 0 when closed).
    SocketAddress localAddress();
    /// True when every block written so far has been handed to the system for every target.
    bool sendQueueEmpty() { return m_sender.idle(); }
    /// Each target's counters, in list order.
    std::vector<DatagramFanout::Stats> targetStats() { return m_sender.stats(); }
    std::vector<DestinationStats> destinationStats() override;

protected:
    virtual void logOpen(const std::string& ip, uint16_t port);
    /// SLUICE_PROTOCOL_* of this caster, for the statistics.
    virtual int protocol() const;
    /// SO_SNDBUF for the socket; the library-wide send buffer setting.
    virtual int sendBufferSize() const;
    /// On the sender's thread.
    virtual void logSendFailure(const NetAddress& target, size_t size);
    /// Queues header + payload for every target (mutex held by the caller).
    void sendToTargets(const uint8_t* header, size_t headerSize, const uint8_t* data, size_t size);

private:
    void onSendFailed(const NetAddress& target, size_t size, int error) override;
    void onQueueOverflow(bool begins, uint64_t dropped) override;

    comn::Socket m_socket;
    PacedDatagramSender m_sender{*this};
};

}  // namespace av
