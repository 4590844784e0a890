#include "FlvTagMuxer.h"

#include <cstring>
#include <vector>

#include "AacHelper.h"
#include "sluice.h"

namespace av {

namespace {

constexpr uint8_t kAudioTag = 8;
constexpr uint8_t kVideoTag = 9;
constexpr uint8_t kScriptTag = 18;
constexpr uint8_t kAvcCodecId = 7;
constexpr uint8_t kAacSoundHeader = 0xAF;  // AAC, 44 kHz, 16 bit, stereo: what FLV requires
constexpr int kVideoClock = 1000000;

void put16(std::string& out, uint32_t v) {
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v));
}
void put24(std::string& out, uint32_t v) {
    out.push_back(static_cast<char>(v >> 16));
    put16(out, v);
}
void put32(std::string& out, uint32_t v) {
    out.push_back(static_cast<char>(v >> 24));
    put24(out, v);
}

// One tag with its trailing previous-tag size.
void appendTag(std::string& out, uint8_t type, uint32_t ms, const std::string& body) {
    out.push_back(static_cast<char>(type));
    put24(out, static_cast<uint32_t>(body.size()));
    put24(out, ms & 0xFFFFFF);
    out.push_back(static_cast<char>(ms >> 24));
    put24(out, 0);
    out += body;
    put32(out, static_cast<uint32_t>(body.size() + 11));
}

void amfString(std::string& out, const std::string& text) {
    put16(out, static_cast<uint32_t>(text.size()));
    out += text;
}

void amfNumber(std::string& out, const std::string& name, double value) {
    amfString(out, name);
    out.push_back(0);  // number
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    put32(out, static_cast<uint32_t>(bits >> 32));
    put32(out, static_cast<uint32_t>(bits));
}

// The NAL units of an Annex B buffer (start codes removed).
std::vector<std::pair<const uint8_t*, size_t>> splitNalUnits(const uint8_t* data, size_t size) {
    std::vector<std::pair<const uint8_t*, size_t>> units;
    size_t i = 0;
    size_t start = std::string::npos;
    while (i + 2 < size) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            if (start != std::string::npos) {
                size_t end = i;
                while (end > start && data[end - 1] == 0) {
                    --end;  // the zero of a four-byte start code
                }
                units.emplace_back(data + start, end - start);
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start != std::string::npos && start < size) {
        units.emplace_back(data + start, size - start);
    }
    return units;
}

}  // namespace

int FlvTagMuxer::open(const MediaCasterConfig& config) {
    if (config.videoCodec != SLUICE_CODEC_NONE && config.videoCodec != SLUICE_CODEC_H264) {
        return 19;  // ENODEV
    }
    m_config = config;
    m_hasVideo = config.videoCodec == SLUICE_CODEC_H264;
    m_hasAudio = config.audioCodec == SLUICE_CODEC_AAC;
    m_sps.clear();
    m_pps.clear();
    m_audioConfig = config.audioConfig;
    if (m_hasAudio && m_audioConfig.empty()) {
        // AudioSpecificConfig: object type, sampling index, channels.
        const uint32_t asc =
            (static_cast<uint32_t>(config.audioProfile + 1) << 11) |
            (static_cast<uint32_t>(AacHelper::samplingIndex(config.sampleRate)) << 7) |
            (static_cast<uint32_t>(config.channels & 15) << 3);
        put16(m_audioConfig, asc);
    }
    if (m_hasVideo && !config.videoConfig.empty()) {
        for (const auto& unit :
             splitNalUnits(reinterpret_cast<const uint8_t*>(config.videoConfig.data()),
                           config.videoConfig.size())) {
            if (unit.second > 0 && (unit.first[0] & 0x1F) == 7) {
                m_sps.assign(reinterpret_cast<const char*>(unit.first), unit.second);
            } else if (unit.second > 0 && (unit.first[0] & 0x1F) == 8) {
                m_pps.assign(reinterpret_cast<const char*>(unit.first), unit.second);
            }
        }
    }
    m_haveOrigin = false;
    m_header = nullptr;
    m_open = true;
    makeHeader();
    return 0;
}

void FlvTagMuxer::makeHeader() {
    if (m_hasVideo && (m_sps.size() < 4 || m_pps.empty())) {
        m_header = nullptr;
        return;
    }
    std::string out("FLV\x01", 4);
    out.push_back(static_cast<char>((m_hasAudio ? 4 : 0) | (m_hasVideo ? 1 : 0)));
    put32(out, 9);
    put32(out, 0);

    std::string meta;
    meta.push_back(2);
    amfString(meta, "onMetaData");
    meta.push_back(8);  // ECMA array
    put32(meta, 4);
    amfNumber(meta, "width", m_config.width);
    amfNumber(meta, "height", m_config.height);
    amfNumber(meta, "videocodecid", m_hasVideo ? kAvcCodecId : 0);
    amfNumber(meta, "audiocodecid", m_hasAudio ? 10 : 0);
    put24(meta, 9);  // object end
    appendTag(out, kScriptTag, 0, meta);

    if (m_hasVideo) {
        std::string body;
        body.push_back(static_cast<char>(0x10 | kAvcCodecId));
        body.push_back(0);  // sequence header
        put24(body, 0);
        // AVCDecoderConfigurationRecord with one SPS and one PPS, four-byte lengths.
        body.push_back(1);
        body.append(m_sps, 1, 3);
        body.push_back(static_cast<char>(0xFF));
        body.push_back(static_cast<char>(0xE1));
        put16(body, static_cast<uint32_t>(m_sps.size()));
        body += m_sps;
        body.push_back(1);
        put16(body, static_cast<uint32_t>(m_pps.size()));
        body += m_pps;
        appendTag(out, kVideoTag, 0, body);
    }
    if (m_hasAudio) {
        std::string body;
        body.push_back(static_cast<char>(kAacSoundHeader));
        body.push_back(0);  // sequence header
        body += m_audioConfig;
        appendTag(out, kAudioTag, 0, body);
    }
    auto header = std::make_shared<MediaPacket>();
    header->assign(out.data(), out.size());
    m_header = header;
}

uint32_t FlvTagMuxer::tagTime(int64_t pts, int clock) {
    const int64_t us = pts * 1000000 / clock;
    if (!m_haveOrigin) {
        m_haveOrigin = true;
        m_originUs = us;
    }
    return static_cast<uint32_t>(us > m_originUs ? (us - m_originUs) / 1000 : 0);
}

bool FlvTagMuxer::write(int type, const uint8_t* data, int size, int64_t pts, int, int flags) {
    if (!m_open || data == nullptr || size <= 0) {
        return false;
    }
    std::string body;
    uint32_t ms = 0;
    bool start = false;
    if (type == 0) {
        if (!m_hasVideo) {
            return false;
        }
        const bool key = (flags & 1) != 0;
        body.push_back(static_cast<char>((key ? 0x10 : 0x20) | kAvcCodecId));
        body.push_back(1);  // NAL units
        put24(body, 0);     // no B-frames: composition time 0
        bool headerChanged = false;
        for (const auto& unit : splitNalUnits(data, static_cast<size_t>(size))) {
            const int nalType = unit.second > 0 ? (unit.first[0] & 0x1F) : 0;
            const std::string bytes(reinterpret_cast<const char*>(unit.first), unit.second);
            if (nalType == 7 || nalType == 8) {
                std::string& known = nalType == 7 ? m_sps : m_pps;
                headerChanged = headerChanged || known != bytes;
                known = bytes;
                continue;  // carried by the sequence header
            }
            if (nalType == 9 || unit.second == 0) {
                continue;  // access unit delimiters mean nothing in FLV
            }
            put32(body, static_cast<uint32_t>(unit.second));
            body += bytes;
        }
        if (headerChanged) {
            makeHeader();
        }
        if (m_header == nullptr) {
            return false;  // nothing is playable before the parameter sets
        }
        const int clock = m_config.videoClock >= 1 ? m_config.videoClock : kVideoClock;
        ms = tagTime(pts, clock);
        start = key;
    } else {
        if (!m_hasAudio) {
            return false;
        }
        size_t skip = 0;
        if (AacHelper::hasAdtsHeader(data, static_cast<size_t>(size))) {
            skip = (data[1] & 1) != 0 ? 7 : 9;  // without or with CRC
        }
        if (static_cast<size_t>(size) <= skip) {
            return false;
        }
        body.push_back(static_cast<char>(kAacSoundHeader));
        body.push_back(1);  // raw frame
        body.append(reinterpret_cast<const char*>(data) + skip, static_cast<size_t>(size) - skip);
        const int clock = m_config.audioClock >= 1 ? m_config.audioClock : m_config.sampleRate;
        if (clock < 1 || (m_hasVideo && m_header == nullptr)) {
            return false;
        }
        ms = tagTime(pts, clock);
        start = !m_hasVideo;
    }
    std::string out;
    appendTag(out, type == 0 ? kVideoTag : kAudioTag, ms, body);
    auto tag = std::make_shared<MediaPacket>();
    tag->assign(out.data(), out.size());
    tag->type = type;
    tag->flags = start ? 1 : 0;
    m_tagSink.onFlvTag(tag);
    return true;
}

}  // namespace av
