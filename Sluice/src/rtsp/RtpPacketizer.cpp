#include "RtpPacketizer.h"

extern "C" {
#include <libavutil/base64.h>
}

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "AacHelper.h"
#include "H264PropDetector.h"
#include "sluice.h"

namespace av {

namespace {

// Payload types of the dynamic range (RFC 3551): one per media description.
constexpr int kVideoPayloadType = 96;
constexpr int kAudioPayloadType = 97;

// NAL unit types (H.264 / H.265) that matter here.
constexpr int kH264Idr = 5;
constexpr int kH264Sps = 7;
constexpr int kH264Pps = 8;
constexpr int kH264Aud = 9;
constexpr int kH264FuA = 28;
constexpr int kH265IrapFirst = 16;
constexpr int kH265IrapLast = 23;
constexpr int kH265Vps = 32;
constexpr int kH265Sps = 33;
constexpr int kH265Pps = 34;
constexpr int kH265Aud = 35;
constexpr int kH265Fu = 49;

int64_t rescale(int64_t value, int64_t from, int64_t to) {
    // Split so that large timestamps do not overflow the product.
    return value / from * to + value % from * to / from;
}

std::string base64(const std::string& bytes) {
    std::string text(AV_BASE64_SIZE(bytes.size()), '\0');
    av_base64_encode(&text[0], static_cast<int>(text.size()),
                     reinterpret_cast<const uint8_t*>(bytes.data()),
                     static_cast<int>(bytes.size()));
    text.resize(std::strlen(text.c_str()));
    return text;
}

// Calls f(nal, size) for each NAL unit of an Annex B buffer.
template <class F>
void forEachNal(const uint8_t* data, size_t size, F f) {
    size_t i = 0;
    // Find the first start code.
    while (i + 3 <= size && !(data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)) {
        ++i;
    }
    while (i + 3 <= size) {
        const size_t start = i + 3;
        size_t next = start;
        while (next + 3 <= size &&
               !(data[next] == 0 && data[next + 1] == 0 && data[next + 2] == 1)) {
            ++next;
        }
        size_t end = next + 3 <= size ? next : size;
        // The zero byte of a four-byte start code belongs to the next one.
        while (end > start && data[end - 1] == 0 && end != size) {
            --end;
        }
        if (end > start) {
            f(data + start, end - start);
        }
        i = next;
    }
}

}  // namespace

RtpPacketizer::RtpPacketizer(const MediaCasterConfig& config) : m_config(config) {
    int next = 0;
    if (config.videoCodec == SLUICE_CODEC_H264 || config.videoCodec == SLUICE_CODEC_H265) {
        m_videoCodec = config.videoCodec;
        m_videoTrack = next++;
        m_videoClock = config.videoClock >= 1 ? config.videoClock : 1000000;
        const auto* bytes = reinterpret_cast<const uint8_t*>(config.videoConfig.data());
        forEachNal(bytes, config.videoConfig.size(), [this](const uint8_t* nal, size_t n) {
            const int type =
                m_videoCodec == SLUICE_CODEC_H264 ? (nal[0] & 0x1F) : ((nal[0] >> 1) & 0x3F);
            rememberParameterSet(type, nal, n);
        });
    }
    if (config.audioCodec == SLUICE_CODEC_AAC && config.sampleRate > 0) {
        m_audioTrack = next++;
        m_audioClock = config.audioClock >= 1 ? config.audioClock : config.sampleRate;
    }
}

uint32_t RtpPacketizer::clockRate(int track) const {
    if (track == m_audioTrack) {
        return static_cast<uint32_t>(m_config.sampleRate);
    }
    return kVideoClock;
}

int64_t RtpPacketizer::videoUs(int64_t pts) const {
    return rescale(pts, m_videoClock, 1000000);
}

int64_t RtpPacketizer::audioUs(int64_t pts) const {
    return rescale(pts, m_audioClock, 1000000);
}

void RtpPacketizer::rememberParameterSet(int type, const uint8_t* nal, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(nal), size);
    if (m_videoCodec == SLUICE_CODEC_H264) {
        if (type == kH264Sps) {
            m_sps = bytes;
        } else if (type == kH264Pps) {
            m_pps = bytes;
        }
    } else if (type == kH265Vps) {
        m_vps = bytes;
    } else if (type == kH265Sps) {
        m_sps = bytes;
    } else if (type == kH265Pps) {
        m_pps = bytes;
    }
}

void RtpPacketizer::addNal(RtpFrame& frame, const uint8_t* nal, size_t size) {
    const bool h264 = m_videoCodec == SLUICE_CODEC_H264;
    const size_t headerSize = h264 ? 1 : 2;
    if (size <= headerSize) {
        return;
    }
    if (size <= kMaxPayload) {
        RtpFrame::Packet packet;
        packet.offset = static_cast<uint32_t>(frame.bytes.size());
        packet.size = static_cast<uint32_t>(size);
        frame.bytes.insert(frame.bytes.end(), nal, nal + size);
        frame.packets.push_back(packet);
        return;
    }
    // Fragmentation units: the NAL header becomes the FU indicator (H.264) or payload header
    // (H.265) plus a FU header with start/end bits and the original type.
    uint8_t prefix[3];
    size_t prefixSize;
    int type;
    if (h264) {
        type = nal[0] & 0x1F;
        prefix[0] = static_cast<uint8_t>((nal[0] & 0xE0) | kH264FuA);
        prefixSize = 2;
    } else {
        type = (nal[0] >> 1) & 0x3F;
        prefix[0] = static_cast<uint8_t>((nal[0] & 0x81) | (kH265Fu << 1));
        prefix[1] = nal[1];
        prefixSize = 3;
    }
    const size_t chunk = kMaxPayload - prefixSize;
    size_t at = headerSize;
    while (at < size) {
        const size_t n = std::min(chunk, size - at);
        uint8_t fuHeader = static_cast<uint8_t>(type);
        if (at == headerSize) {
            fuHeader |= 0x80;
        }
        if (at + n == size) {
            fuHeader |= 0x40;
        }
        prefix[prefixSize - 1] = fuHeader;
        RtpFrame::Packet packet;
        packet.offset = static_cast<uint32_t>(frame.bytes.size());
        packet.size = static_cast<uint32_t>(prefixSize + n);
        frame.bytes.insert(frame.bytes.end(), prefix, prefix + prefixSize);
        frame.bytes.insert(frame.bytes.end(), nal + at, nal + at + n);
        frame.packets.push_back(packet);
        at += n;
    }
}

std::shared_ptr<RtpFrame> RtpPacketizer::video(const uint8_t* data, size_t size, int64_t pts) {
    if (m_videoTrack < 0 || data == nullptr) {
        return nullptr;
    }
    const bool h264 = m_videoCodec == SLUICE_CODEC_H264;
    struct Nal {
        const uint8_t* bytes;
        size_t size;
        int type;
    };
    std::vector<Nal> nals;
    bool key = false;
    bool hasPicture = false;
    bool hasParameterSets = false;
    forEachNal(data, size, [&](const uint8_t* nal, size_t n) {
        const int type = h264 ? (nal[0] & 0x1F) : ((nal[0] >> 1) & 0x3F);
        if (h264 ? type == kH264Aud : type == kH265Aud) {
            return;  // access unit delimiters carry nothing RTP needs (the marker bit ends a unit)
        }
        if (h264 ? (type == kH264Sps || type == kH264Pps)
                 : (type == kH265Vps || type == kH265Sps || type == kH265Pps)) {
            rememberParameterSet(type, nal, n);
            hasParameterSets = true;
        }
        if (h264 ? type == kH264Idr : (type >= kH265IrapFirst && type <= kH265IrapLast)) {
            key = true;
        }
        if (h264 ? (type >= 1 && type <= kH264Idr) : type < 32) {
            hasPicture = true;
        }
        nals.push_back({nal, n, type});
    });
    if (!hasPicture) {
        // Parameter sets or SEI sent on their own: kept (parameter sets) for the next key
        // picture, which carries them in band.
        return nullptr;
    }
    auto frame = std::make_shared<RtpFrame>();
    frame->track = m_videoTrack;
    frame->ptsUs = videoUs(pts);
    frame->timestamp = static_cast<uint32_t>(rescale(pts, m_videoClock, kVideoClock));
    frame->key = key;
    frame->bytes.reserve(size + size / kMaxPayload * 3 + 64);
    if (key && !hasParameterSets) {
        for (const std::string* set : {&m_vps, &m_sps, &m_pps}) {
            addNal(*frame, reinterpret_cast<const uint8_t*>(set->data()), set->size());
        }
    }
    for (const Nal& nal : nals) {
        addNal(*frame, nal.bytes, nal.size);
    }
    if (frame->packets.empty()) {
        return nullptr;
    }
    frame->packets.back().marker = true;  // the last packet of the access unit
    return frame;
}

std::shared_ptr<RtpFrame> RtpPacketizer::audio(const uint8_t* data, size_t size, int64_t pts) {
    if (m_audioTrack < 0 || data == nullptr) {
        return nullptr;
    }
    if (AacHelper::hasAdtsHeader(data, size)) {
        const size_t header = (data[1] & 0x01) != 0 ? 7 : 9;  // protection_absent: no CRC
        if (size <= header) {
            return nullptr;
        }
        data += header;
        size -= header;
    }
    // AU-size has 13 bits (sizelength=13).
    if (size == 0 || size >= 8192) {
        return nullptr;
    }
    auto frame = std::make_shared<RtpFrame>();
    frame->track = m_audioTrack;
    frame->ptsUs = audioUs(pts);
    frame->timestamp = static_cast<uint32_t>(rescale(pts, m_audioClock, m_config.sampleRate));
    // AU-headers-length (16 bits: one header of 16 bits), AU-size (13) and AU-index (3).
    const uint8_t headers[4] = {0x00, 0x10, static_cast<uint8_t>(size >> 5),
                                static_cast<uint8_t>((size & 0x1F) << 3)};
    frame->bytes.reserve(size + sizeof headers);
    frame->bytes.insert(frame->bytes.end(), headers, headers + sizeof headers);
    frame->bytes.insert(frame->bytes.end(), data, data + size);
    RtpFrame::Packet packet;
    packet.size = static_cast<uint32_t>(frame->bytes.size());
    packet.marker = true;
    frame->packets.push_back(packet);
    return frame;
}

std::string RtpPacketizer::audioConfigHex() const {
    std::string config = m_config.audioConfig;
    if (config.empty()) {
        // AudioSpecificConfig: object type (5 bits), frequency index (4), channels (4).
        const int objectType = m_config.audioProfile + 1;
        const int index = AacHelper::samplingIndex(m_config.sampleRate);
        const int channels = m_config.channels;
        config.push_back(static_cast<char>((objectType << 3) | (index >> 1)));
        config.push_back(static_cast<char>(((index & 1) << 7) | ((channels & 15) << 3)));
    }
    std::string text;
    char digits[3];
    for (unsigned char c : config) {
        std::snprintf(digits, sizeof digits, "%02X", c);
        text += digits;
    }
    return text;
}

int RtpPacketizer::payloadType(int track) const {
    return track == m_audioTrack ? kAudioPayloadType : kVideoPayloadType;
}

std::string RtpPacketizer::sdpMedia() const {
    char line[512];
    std::string text;
    if (m_videoTrack >= 0) {
        std::snprintf(line, sizeof line, "m=video 0 RTP/AVP %d\r\n", kVideoPayloadType);
        text += line;
        if (m_config.width > 0 && m_config.height > 0) {
            std::snprintf(line, sizeof line, "a=x-dimensions:%d,%d\r\n", m_config.width,
                          m_config.height);
            text += line;
        }
        if (m_videoCodec == SLUICE_CODEC_H264) {
            std::snprintf(line, sizeof line, "a=rtpmap:%d H264/90000\r\n", kVideoPayloadType);
            text += line;
            std::snprintf(line, sizeof line, "a=fmtp:%d packetization-mode=1", kVideoPayloadType);
            text += line;
            if (m_sps.size() >= 4) {
                std::snprintf(line, sizeof line, ";profile-level-id=%02X%02X%02X",
                              static_cast<uint8_t>(m_sps[1]), static_cast<uint8_t>(m_sps[2]),
                              static_cast<uint8_t>(m_sps[3]));
                text += line;
            }
            if (!m_sps.empty() && !m_pps.empty()) {
                text += ";sprop-parameter-sets=" + base64(m_sps) + "," + base64(m_pps);
            }
            text += "\r\n";
        } else {
            std::snprintf(line, sizeof line, "a=rtpmap:%d H265/90000\r\n", kVideoPayloadType);
            text += line;
            if (!m_vps.empty() && !m_sps.empty() && !m_pps.empty()) {
                std::snprintf(line, sizeof line, "a=fmtp:%d ", kVideoPayloadType);
                text += line;
                text += "sprop-vps=" + base64(m_vps) + ";sprop-sps=" + base64(m_sps) +
                        ";sprop-pps=" + base64(m_pps) + "\r\n";
            }
        }
        std::snprintf(line, sizeof line, "a=control:trackID=%d\r\n", m_videoTrack);
        text += line;
    }
    if (m_audioTrack >= 0) {
        std::snprintf(line, sizeof line,
                      "m=audio 0 RTP/AVP %d\r\na=rtpmap:%d mpeg4-generic/%d/%d\r\n"
                      "a=fmtp:%d streamtype=5;profile-level-id=1;mode=AAC-hbr;sizelength=13;"
                      "indexlength=3;indexdeltalength=3;config=%s\r\na=control:trackID=%d\r\n",
                      kAudioPayloadType, kAudioPayloadType, m_config.sampleRate,
                      m_config.channels > 0 ? m_config.channels : 1, kAudioPayloadType,
                      audioConfigHex().c_str(), m_audioTrack);
        text += line;
    }
    return text;
}

}  // namespace av
