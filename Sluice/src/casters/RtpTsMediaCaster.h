#pragma once

#include "UdpTsMediaCaster.h"

namespace av {

/// Casts the transport stream as RTP over UDP (RFC 3550; payload type 33, MP2T, RFC 3551):
/// every multiplexer block becomes one packet with a 12-byte header, queued once and sent to
/// every target like the UDP caster sends a datagram (every target sees the same sequence
/// numbers, consecutive from when it was added). Every open starts at sequence 0 and timestamp
/// 3600; timestamps run at 90 kHz from the frames' timestamps; the SSRC is always 16. The marker
/// bit is never set (the multiplexer passes no flags). Audio timestamps are not checked.
class RtpTsMediaCaster : public UdpTsMediaCaster {
public:
    static constexpr size_t kHeaderSize = 12;
    static constexpr uint8_t kPayloadType = 33;  // MPEG-2 transport stream (RFC 3551)
    static constexpr uint32_t kSsrc = 16;
    static constexpr uint32_t kFirstTimestamp = 3600;
    static constexpr int kSendBufferSize = 1048576;  // fixed 1 MiB, not the library setting

    RtpTsMediaCaster();
    ~RtpTsMediaCaster() override;

    /// As UdpTsMediaCaster::close, and the RTP state starts over (sequence 0, new offset).
    void close() override;
    void onMuxData(const uint8_t* data, size_t size, int64_t pts, int flags) override;

    /// Writes the 12-byte header: version 2, marker when flags >= 1, payload type 33.
    static void writeHeader(uint8_t* out, bool marker, uint16_t sequence, uint32_t timestamp,
                            uint32_t ssrc);

protected:
    void logOpen(const std::string& ip, uint16_t port) override;
    int sendBufferSize() const override { return kSendBufferSize; }
    int protocol() const override;
    void logSendFailure(const NetAddress& target, size_t size) override;
    void logTargetChange(const char* operation, const std::string& ip, uint16_t port) override;
    bool checksAudioPts() const override { return false; }

    /// The next sequence number (for tests of the wrap).
    void setSequence(uint16_t sequence) { m_sequence = sequence; }

private:
    uint16_t m_sequence = 1;
    uint32_t m_timestampOffset = 0;
    bool m_offsetFixed = false;
};

}  // namespace av
