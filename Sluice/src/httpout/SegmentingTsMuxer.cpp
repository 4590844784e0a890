#include "SegmentingTsMuxer.h"

#include "FfmpegTsMuxer.h"
#include "sluice.h"

namespace av {

int SegmentingTsMuxer::open(const MediaCasterConfig& config) {
    m_config = config;
    return m_inner->open(config);
}

bool SegmentingTsMuxer::write(int type, const uint8_t* data, int size, int64_t pts, int duration,
                              int flags) {
    if (!m_inner->isOpen()) {
        return false;
    }
    const bool video = type == 0;
    const bool hasVideo = m_config.videoCodec != SLUICE_CODEC_NONE;
    int clock = video ? m_config.videoClock : m_config.audioClock;
    if (clock < 1) {
        clock = video ? FfmpegTsMuxer::kDefaultVideoClock : m_config.sampleRate;
    }
    if (clock < 1) {
        return false;
    }
    const int64_t ptsUs = pts * 1000000 / clock;
    const bool key = video ? (flags & 1) != 0 : !hasVideo;
    if ((video || !hasVideo) && m_policy.startsSegment(ptsUs, key)) {
        m_inner->close();  // its trailer flushes the frames it held back
        m_policy.onSegmentEnd(ptsUs, key);
        m_inner->open(m_config);
    }
    return m_inner->write(type, data, size, pts, duration, flags);
}

}  // namespace av
