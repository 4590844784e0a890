#include "RtmpTsMediaCaster.h"

#include <cerrno>

#include "AacHelper.h"
#include "CLog.h"
#include "sluice.h"

namespace av {
namespace {

constexpr int kH264Idr = 5;
constexpr int kH264Sps = 7;
constexpr int kH264Pps = 8;

/// The AudioSpecificConfig (ISO/IEC 14496-3) of an AAC stream: 5 bits object type, 4 bits
/// sampling index, 4 bits channel configuration.
std::string audioSpecificConfig(int objectType, int samplingIndex, int channels) {
    const unsigned value = (static_cast<unsigned>(objectType & 0x1f) << 11) |
                           (static_cast<unsigned>(samplingIndex & 0x0f) << 7) |
                           (static_cast<unsigned>(channels & 0x0f) << 3);
    return std::string{static_cast<char>(value >> 8), static_cast<char>(value & 0xff)};
}

}  // namespace

RtmpTsMediaCaster::~RtmpTsMediaCaster() {
    RtmpTsMediaCaster::close();
}

int RtmpTsMediaCaster::open(const std::string&, uint16_t, const MediaCasterConfig& config) {
    close();
    std::shared_ptr<RtmpPusher> replaced;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_config = config;
        m_open = true;
        m_failed = config.videoCodec == SLUICE_CODEC_H265;
        m_streams = FlvStreams();
        m_streamsSent = false;
        m_haveBase = false;
        m_streams.hasVideo = config.videoCodec == SLUICE_CODEC_H264;
        m_streams.width = config.width > 0 ? config.width : 1920;
        m_streams.height = config.width > 0 ? config.height : 1080;
        m_streams.videoConfig = config.videoConfig;
        m_streams.hasAudio = config.audioCodec == SLUICE_CODEC_AAC;
        m_streams.sampleRate = config.sampleRate;
        m_streams.channels = config.channels;
        m_streams.audioConfig = config.audioConfig;
        if (m_streams.hasAudio && m_streams.audioConfig.empty() && config.sampleRate > 0) {
            m_streams.audioConfig =
                audioSpecificConfig(config.audioProfile + 1,
                                    AacHelper::samplingIndex(config.sampleRate), config.channels);
        }
        m_detector.setCodec(SLUICE_CODEC_H264);
        m_joiner = NaluJoiner::create(SLUICE_CODEC_H264);
        if (m_failed) {
            CLog::warning("RtmpTsMediaCaster(%d) %s: H.265 frames are refused\n", m_id.load(),
                          kNeedsH264);
        } else if (config.audioCodec != SLUICE_CODEC_NONE && !m_streams.hasAudio) {
            CLog::warning("RtmpTsMediaCaster(%d) audio codec %d is not pushed (AAC only)\n",
                          m_id.load(), config.audioCodec);
        }
        replaced = restartLocked();
    }
    if (replaced != nullptr) {
        replaced->stop();
    }
    return 0;
}

void RtmpTsMediaCaster::close() {
    std::shared_ptr<RtmpPusher> pusher;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = false;
        pusher = std::move(m_pusher);
        m_pusher.reset();
    }
    if (pusher != nullptr) {
        pusher->stop();
    }
}

bool RtmpTsMediaCaster::isOpen() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open;
}

std::shared_ptr<RtmpPusher> RtmpTsMediaCaster::restartLocked() {
    std::shared_ptr<RtmpPusher> old = std::move(m_pusher);
    m_pusher.reset();
    m_streamsSent = false;
    if (!m_open || m_failed || m_url.empty()) {
        return old;
    }
    auto pusher = std::make_shared<RtmpPusher>(m_id.load(), m_url, m_tls);
    if (!pusher->start()) {
        CLog::error("RtmpTsMediaCaster(%d) cannot start its sender thread\n", m_id.load());
        return old;
    }
    m_pusher = std::move(pusher);
    return old;
}

int RtmpTsMediaCaster::setOption(const std::string& name, const std::string& value) {
    std::shared_ptr<RtmpPusher> replaced;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (name == "url") {
            RtmpUrl url;
            if (!value.empty() && !url.parse(value)) {
                return EINVAL;
            }
            m_url = url;
        } else if (name == "ca_file") {
            if (value.size() > 4096) {
                return EINVAL;
            }
            m_tls.caFile = value;
        } else if (name == "tls_verify") {
            if (value != "0" && value != "1") {
                return EINVAL;
            }
            m_tls.verify = value == "1";
            if (!m_tls.verify) {
                CLog::warning(
                    "RtmpTsMediaCaster(%d) TLS certificate verification is off: any "
                    "server is trusted\n",
                    m_id.load());
            }
        } else {
            return EINVAL;
        }
        replaced = restartLocked();
    }
    if (replaced != nullptr) {
        replaced->stop();
    }
    return 0;
}

int64_t RtmpTsMediaCaster::timeLineMs(int64_t pts, int64_t clock) {
    const int64_t ms = clock > 0 ? pts * 1000 / clock : pts / 1000;
    if (!m_haveBase) {
        m_haveBase = true;
        m_baseMs = ms;
    }
    return ms > m_baseMs ? ms - m_baseMs : 0;
}

bool RtmpTsMediaCaster::prepareVideo(const uint8_t* data, int size, int64_t pts, RtmpFrame& frame) {
    bool key = false;
    int nalType = 0;
    m_detector.parse(data, static_cast<size_t>(size), key, nalType);
    MediaFrame in;
    in.type = kVideoFrame;
    in.data = data;
    in.size = size;
    in.pts = pts;
    MediaFrame joined;
    if (!m_joiner->join(in, nalType, joined)) {
        return false;  // a parameter set, held for the next picture
    }
    const size_t n = static_cast<size_t>(joined.size);
    std::string parameterSets;
    bool idr = false;
    for (long at = findStartCode(joined.data, n, 0); at >= 0;) {
        size_t begin = static_cast<size_t>(at) + 3;
        if (joined.data[begin - 1] != 1) {
            ++begin;  // a four-byte start code
        }
        const long next = findStartCode(joined.data, n, begin);
        const size_t end = next < 0 ? n : static_cast<size_t>(next);
        const int type = begin < n ? joined.data[begin] & 0x1f : 0;
        idr = idr || type == kH264Idr;
        if (type == kH264Sps || type == kH264Pps) {
            parameterSets.append("\0\0\0\1", 4);
            parameterSets.append(reinterpret_cast<const char*>(joined.data + begin), end - begin);
        }
        at = next;
    }
    if (idr && m_streams.videoConfig.empty() && !parameterSets.empty()) {
        m_streams.videoConfig = parameterSets;
    }
    frame.video = true;
    frame.key = idr;
    const int64_t clock = m_config.videoClock > 0 ? m_config.videoClock : 1000000;
    frame.timeMs = timeLineMs(joined.pts, clock);
    frame.bytes.assign(joined.data, joined.data + n);
    return true;
}

bool RtmpTsMediaCaster::prepareAudio(const uint8_t* data, int size, int64_t pts, RtmpFrame& frame) {
    size_t skip = 0;
    if (AacHelper::hasAdtsHeader(data, static_cast<size_t>(size))) {
        skip = (data[1] & 0x01) != 0 ? 7 : 9;  // protection_absent, else a CRC follows
        if (m_config.audioConfig.empty() && !m_streamsSent) {
            m_streams.audioConfig =
                audioSpecificConfig(((data[2] >> 6) & 0x03) + 1, (data[2] >> 2) & 0x0f,
                                    ((data[2] & 0x01) << 2) | ((data[3] >> 6) & 0x03));
        }
    }
    if (static_cast<size_t>(size) <= skip) {
        return false;
    }
    frame.video = false;
    frame.key = !m_streams.hasVideo;
    const int64_t clock = m_config.audioClock > 0 ? m_config.audioClock : m_config.sampleRate;
    frame.timeMs = timeLineMs(pts, clock);
    frame.bytes.assign(data + skip, data + size);
    return true;
}

bool RtmpTsMediaCaster::write(int type, const uint8_t* data, int size, int64_t pts, int, int) {
    if (data == nullptr || size <= 0) {
        return false;
    }
    std::shared_ptr<RtmpPusher> pusher;
    auto frame = std::make_shared<RtmpFrame>();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_open || m_failed || m_pusher == nullptr) {
            return false;
        }
        const bool prepared = type == kVideoFrame
                                  ? m_streams.hasVideo && prepareVideo(data, size, pts, *frame)
                                  : m_streams.hasAudio && prepareAudio(data, size, pts, *frame);
        if (!prepared) {
            return type == kVideoFrame && m_streams.hasVideo;
        }
        pusher = m_pusher;
        // The streams are complete once the first key picture has its parameter sets (or
        // the first frame of a stream without video has come).
        if (!m_streamsSent && frame->key &&
            (!m_streams.hasVideo || !m_streams.videoConfig.empty())) {
            pusher->setStreams(m_streams);
            m_streamsSent = true;
        }
    }
    pusher->push(std::move(frame));
    return true;
}

std::vector<DestinationStats> RtmpTsMediaCaster::destinationStats() {
    std::shared_ptr<RtmpPusher> pusher;
    DestinationStats failed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_failed && m_open) {
            failed.protocol = SLUICE_PROTOCOL_RTMP;
            failed.address = m_url.shown();
            failed.state = SLUICE_STATE_FAILED;
            failed.stateText = kNeedsH264;
            return {failed};
        }
        pusher = m_pusher;
    }
    if (pusher == nullptr) {
        return {};
    }
    return {pusher->stats()};
}

OutputStatus RtmpTsMediaCaster::outputStatus() {
    OutputStatus status;
    status.protocol = SLUICE_PROTOCOL_RTMP;
    const std::vector<DestinationStats> records = destinationStats();
    status.destinations = static_cast<int>(records.size());
    if (!records.empty()) {
        status.state = records.front().state;
        status.stateText = records.front().stateText;
        status.lastErrno = records.front().counters.lastErrno;
    } else if (isOpen()) {
        status.stateText = "no URL set";
    }
    return status;
}

}  // namespace av
