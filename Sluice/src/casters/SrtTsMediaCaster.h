#pragma once

#include <string>
#include <vector>

#include "BasicTsMediaCaster.h"
#include "SrtSender.h"

namespace av {

/// Casts the transport stream over SRT in live mode, one multiplexer block (at most 1316
/// bytes, seven TS packets) per SRT message. open() with a port listens for callers, each of
/// which gets the stream from its next block on; every target is an SRT listener the caster
/// calls and keeps calling (with back-off) while it is a target. Both at once are fine.
///
/// The writing thread only queues (SrtSender): each peer has its own bounded queue, so a slow
/// or vanished peer loses its oldest blocks (counted) and delays neither the writer nor the
/// other peers. Options (setOption) apply as SrtSender describes.
///
/// Threads: the caster's mutex serialises open, close, targets and frames; the sender has its
/// own thread and lock (taken after the caster's mutex, never before).
class SrtTsMediaCaster : public BasicTsMediaCaster {
public:
    SrtTsMediaCaster() = default;
    ~SrtTsMediaCaster() override;

    /// Starts the sender, listening on port when it is not 0 (every IPv4 address; ip is not
    /// used), and opens the multiplexer. 0, ENOENT when the port cannot be listened on,
    /// ENODEV when the thread cannot start, or the multiplexer's status (the sender is then
    /// stopped again).
    int open(const std::string& ip, uint16_t port, const MediaCasterConfig& config) override;
    /// Closes the multiplexer, hands its last blocks to libsrt, ends every link.
    void close() override;
    bool isOpen() override;

    bool addTarget(const std::string& ip, uint16_t port) override;
    void removeTarget(const std::string& ip, uint16_t port) override;
    void removeAllTarget() override;
    /// The SrtSender options, "muxrate" (a constant-rate stream, handed to libsrt by its byte
    /// clock: SrtSender::setStreamRate), and "listen" (a port 0-65535, 0 an ephemeral one): listens
    /// there from now on, after a restart of the sender that ends every link (targets
    /// reconnect). EINVAL for a bad port, one that cannot be listened on (no listener
    /// then), or a closed caster.
    int setOption(const std::string& name, const std::string& value) override;
    /// The port listened on; 0 without listener.
    uint16_t localPort() override;

    /// As every caster writes; the sender is woken once for all blocks of the frame.
    bool write(int type, const uint8_t* data, int size, int64_t pts, int duration,
               int flags) override;
    void onMuxData(const uint8_t* data, size_t size, int64_t pts, int flags) override;
    std::vector<DestinationStats> destinationStats() override;

    SrtOptions options() { return m_sender.options(); }
    size_t clientCount() { return m_sender.clientCount(); }
    /// Callers refused because a limit was reached.
    uint64_t refusedCallers() const { return m_sender.refusedCallers(); }
    size_t connectedTargetCount() { return m_sender.connectedTargetCount(); }

private:
    int listen(const std::string& value);

    SrtSender m_sender;
};

}  // namespace av
