#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "DestinationStats.h"
#include "MediaCasterConfig.h"

namespace av {

/// The caster interface the exported functions drive. Casters are held by shared reference
/// (the application's table plus any caller that looked one up), and every implementation
/// serialises its own operations, so any operation may be called from any thread.
class TsMediaCaster {
public:
    virtual ~TsMediaCaster() = default;

    /// Binds or listens on the local address text (empty: any interface) and port, then
    /// opens the multiplexer. 0 on success, else ENOENT, ENODEV or a negative FFmpeg code.
    virtual int open(const std::string& ip, uint16_t port, const MediaCasterConfig& config) = 0;
    /// Stops sending and closes the multiplexer; the caster may be opened again.
    virtual void close() = 0;
    virtual bool isOpen() = 0;
    /// The local port: the one listened on (TCP, HTTP, SRT) or bound (UDP, RTP); 0 when
    /// closed or (SRT) not listening. Tells which port an open with port 0 got.
    virtual uint16_t localPort() = 0;

    /// The handle under which the caster is registered, shown in its log messages.
    virtual void setId(int id) = 0;
    virtual int getId() = 0;

    /// True when added, false when the address and port already are a target.
    virtual bool addTarget(const std::string& ip, uint16_t port) = 0;
    virtual void removeTarget(const std::string& ip, uint16_t port) = 0;
    virtual int targetCount() = 0;
    virtual void removeAllTarget() = 0;

    /// Takes one frame (type 0 video, 1 audio). The result is not reported to the caller
    /// of the exported interface.
    virtual bool write(int type, const uint8_t* data, int size, int64_t pts, int duration,
                       int flags) = 0;

    /// Sets a named option from its text (see sluice_set_option). 0 or EINVAL; casters
    /// without options refuse every name.
    virtual int setOption(const std::string& name, const std::string& value) {
        (void)name;
        (void)value;
        return 22;  // EINVAL
    }

    /// A snapshot of every destination's counters (targets in list order, clients in
    /// descriptor order).
    virtual std::vector<DestinationStats> destinationStats() = 0;
    /// The output's health. By default: serving while open, on its local port, with one
    /// destination per record; outputs with states of their own (pushes, listeners that may
    /// fail) override it. The caller fills framesIn.
    virtual OutputStatus outputStatus() {
        OutputStatus status;
        status.protocol = protocolNumber();
        status.state = isOpen() ? 1 : 0;  // SLUICE_STATE_SERVING : SLUICE_STATE_OFF
        status.localPort = localPort();
        status.destinations = static_cast<int>(destinationStats().size());
        return status;
    }
    /// Counts a frame handed to write() by the exported interface (sluice_output_status).
    void countFrameIn() { m_framesIn.fetch_add(1, std::memory_order_relaxed); }
    uint64_t framesIn() const { return m_framesIn.load(std::memory_order_relaxed); }
    /// The SLUICE_PROTOCOL_* the caster was opened as, set once by the exported interface.
    void setProtocolNumber(int protocol) { m_protocol.store(protocol); }
    int protocolNumber() const { return m_protocol.load(); }

private:
    std::atomic<uint64_t> m_framesIn{0};
    std::atomic<int> m_protocol{0};
};

}  // namespace av
