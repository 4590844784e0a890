#include "RtpTsMediaCaster.h"

#include "CLog.h"
#include "sluice.h"

namespace av {

RtpTsMediaCaster::RtpTsMediaCaster() = default;

RtpTsMediaCaster::~RtpTsMediaCaster() {
    RtpTsMediaCaster::close();
}

int RtpTsMediaCaster::protocol() const {
    return SLUICE_PROTOCOL_RTP;
}

void RtpTsMediaCaster::logOpen(const std::string& ip, uint16_t port) {
    CLog::debug("open. ip:%s port:%d\n", ip.c_str(), port);
}

void RtpTsMediaCaster::logSendFailure(const NetAddress& target, size_t size) {
    CLog::warning("sendTo %s:%d failed. size:%d\n", target.ip().c_str(), target.port(),
                  static_cast<int>(size));
}

void RtpTsMediaCaster::logTargetChange(const char* operation, const std::string& ip,
                                       uint16_t port) {
    CLog::debug("%s. ip:%s port:%d\n", operation, ip.c_str(), port);
}

void RtpTsMediaCaster::close() {
    comn::AutoLock lock(mutex());
    UdpTsMediaCaster::close();
    m_sequence = 0;
    m_timestampOffset = 0;
    m_offsetFixed = false;
}

void RtpTsMediaCaster::writeHeader(uint8_t* out, bool marker, uint16_t sequence, uint32_t timestamp,
                                   uint32_t ssrc) {
    out[0] = 0x80;  // version 2, no padding, no extension, no CSRC
    out[1] = static_cast<uint8_t>((marker ? 0x80 : 0x00) | kPayloadType);
    out[2] = static_cast<uint8_t>(sequence >> 8);
    out[3] = static_cast<uint8_t>(sequence);
    out[4] = static_cast<uint8_t>(timestamp >> 24);
    out[5] = static_cast<uint8_t>(timestamp >> 16);
    out[6] = static_cast<uint8_t>(timestamp >> 8);
    out[7] = static_cast<uint8_t>(timestamp);
    out[8] = static_cast<uint8_t>(ssrc >> 24);
    out[9] = static_cast<uint8_t>(ssrc >> 16);
    out[10] = static_cast<uint8_t>(ssrc >> 8);
    out[11] = static_cast<uint8_t>(ssrc);
}

void RtpTsMediaCaster::onMuxData(const uint8_t* data, size_t size, int64_t pts, int flags) {
    comn::AutoLock lock(mutex());
    const auto low = static_cast<uint32_t>(static_cast<uint64_t>(pts) & 0xFFFFFFFFu);
    if (!m_offsetFixed) {
        // The first packet's timestamp becomes 3600, whatever the frames' timestamps are.
        m_timestampOffset = kFirstTimestamp - low;
        m_offsetFixed = true;
    }
    uint8_t header[kHeaderSize];
    writeHeader(header, flags >= 1, m_sequence++, low + m_timestampOffset, kSsrc);
    sendToTargets(header, sizeof header, data, size);
}

}  // namespace av
