#include "FfmpegTsMuxer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "AacHelper.h"
#include "CLog.h"
#include "CodecIdMap.h"

namespace av {
namespace {

bool setExtradata(AVCodecParameters* par, const std::string& bytes) {
    if (bytes.empty()) {
        return true;
    }
    par->extradata = static_cast<uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (par->extradata == nullptr) {
        return false;
    }
    std::memcpy(par->extradata, bytes.data(), bytes.size());
    par->extradata_size = static_cast<int>(bytes.size());
    return true;
}

}  // namespace

FfmpegTsMuxer::~FfmpegTsMuxer() {
    // The owner is going away: the trailer has nobody left to go to.
    m_sink = nullptr;
    close();
    av_packet_free(&m_packet);
}

int FfmpegTsMuxer::open(const MediaCasterConfig& config) {
    close();
    m_config = config;
    int rc = avformat_alloc_output_context2(&m_context, nullptr, "mpegts", nullptr);
    if (m_context == nullptr) {
        return rc < 0 ? rc : AVERROR(ENOMEM);
    }
    if (m_config.videoCodec != 0 && !addVideoStream()) {
        CLog::warning("no such video codec. id:%d\n", m_config.videoCodec);
    }
    if (m_config.audioCodec != 0 && !addAudioStream()) {
        CLog::warning("no such audio codec. id:%d\n", m_config.audioCodec);
    }
    if (m_videoStream < 0 && m_audioStream < 0) {
        release();
        return ENODEV;
    }
    auto* buffer = static_cast<uint8_t*>(av_malloc(kBlockSize));
    AVIOContext* io = buffer == nullptr ? nullptr
                                        : avio_alloc_context(buffer, kBlockSize, 1, this, nullptr,
                                                             &FfmpegTsMuxer::onWrite, nullptr);
    if (io == nullptr) {
        av_free(buffer);
        release();
        return ENODEV;
    }
    m_context->pb = io;
    if (m_packet == nullptr) {
        m_packet = av_packet_alloc();
    }
    // Set, not left to FFmpeg: its PCR period can reach 100 ms for variable-rate streams
    // and its PAT/PMT period is only checked at frames, which makes 100 ms become 120 ms or
    // more. TR 101 290 allows 40 ms between PCRs; receivers tune in faster with tables at
    // least every 100 ms (the period below, plus at most one frame interval).
    AVDictionary* options = nullptr;
    av_dict_set(&options, "pcr_period", kPcrPeriodMs, 0);
    av_dict_set(&options, "pat_period", kTablePeriodSeconds, 0);
    if (m_muxRate > 0) {
        av_dict_set_int(&options, "muxrate", m_muxRate, 0);
        m_context->max_delay = static_cast<int>(kMuxDelayUs);
    }
    m_skipToKey = false;
    m_scheduleEnd90k = av_rescale(kMuxDelayUs, kTsClock, AV_TIME_BASE);  // FFmpeg's first PCR
    rc = m_packet == nullptr ? AVERROR(ENOMEM) : avformat_write_header(m_context, &options);
    av_dict_free(&options);
    if (rc < 0) {
        // A context without a written header cannot take frames or a trailer.
        release();
        return rc;
    }
    return 0;
}

AVStream* FfmpegTsMuxer::newStream(int ffmpegCodecId, bool video) {
    // Only codecs this FFmpeg build knows: the muxer needs their descriptors.
    const AVCodec* decoder =
        ffmpegCodecId == 0 ? nullptr : avcodec_find_decoder(static_cast<AVCodecID>(ffmpegCodecId));
    AVStream* stream = decoder == nullptr ? nullptr : avformat_new_stream(m_context, nullptr);
    if (stream != nullptr) {
        stream->codecpar->codec_type = video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
        stream->codecpar->codec_id = decoder->id;
    }
    return stream;
}

bool FfmpegTsMuxer::addVideoStream() {
    AVStream* stream = newStream(CodecIdMap::toFfmpegVideo(m_config.videoCodec), true);
    if (stream == nullptr) {
        return false;
    }
    AVCodecParameters* par = stream->codecpar;
    if (m_config.width > 0) {
        par->width = m_config.width;
        par->height = m_config.height;
        par->profile = m_config.videoProfile;
    } else {
        par->width = kDefaultWidth;
        par->height = kDefaultHeight;
    }
    stream->time_base = AVRational{1, kTsClock};
    if (!setExtradata(par, m_config.videoConfig)) {
        return false;
    }
    m_videoStream = stream->index;
    return true;
}

bool FfmpegTsMuxer::addAudioStream() {
    AVStream* stream = newStream(CodecIdMap::toFfmpegAudio(m_config.audioCodec), false);
    if (stream == nullptr) {
        return false;
    }
    AVCodecParameters* par = stream->codecpar;
    if (m_config.channels > 0) {
        av_channel_layout_default(&par->ch_layout, m_config.channels);
    }
    par->sample_rate = m_config.sampleRate;
    stream->time_base = AVRational{1, kTsClock};
    if (!setExtradata(par, m_config.audioConfig)) {
        return false;
    }
    m_audioStream = stream->index;
    return true;
}

void FfmpegTsMuxer::close() {
    if (m_context != nullptr) {
        av_write_trailer(m_context);
        release();
    }
    m_videoStream = -1;
    m_audioStream = -1;
}

void FfmpegTsMuxer::release() {
    if (m_context != nullptr) {
        if (m_context->pb != nullptr) {
            av_freep(&m_context->pb->buffer);
            avio_context_free(&m_context->pb);
        }
        avformat_free_context(m_context);
        m_context = nullptr;
    }
    m_videoStream = -1;
    m_audioStream = -1;
}

int FfmpegTsMuxer::onWrite(void* opaque, uint8_t* buffer, int size) {
    auto* self = static_cast<FfmpegTsMuxer*>(opaque);
    if (self != nullptr && self->m_sink != nullptr && size > 0) {
        self->m_sink->onMuxData(buffer, static_cast<size_t>(size), self->m_lastPts, 0);
    }
    return size;  // output trouble is the sink's to report, never FFmpeg's
}

bool FfmpegTsMuxer::write(int type, const uint8_t* data, int size, int64_t pts, int, int flags) {
    if (m_context == nullptr || data == nullptr || size <= 0) {
        return false;
    }
    const int streamIndex = type == 0 ? m_videoStream : (type == 1 ? m_audioStream : 0);
    if (streamIndex < 0) {
        return false;
    }
    const bool isVideo = streamIndex == m_videoStream;
    const int clock = isVideo
                          ? (m_config.videoClock >= 1 ? m_config.videoClock : kDefaultVideoClock)
                          : (m_config.audioClock >= 1 ? m_config.audioClock : m_config.sampleRate);
    if (clock < 1) {
        return false;  // audio without a clock or a sample rate has no usable timestamps
    }

    const uint8_t* payload = data;
    int payloadSize = size;
    if (!isVideo && m_config.audioCodec == kAacCodec &&
        !AacHelper::hasAdtsHeader(data, static_cast<size_t>(size))) {
        const size_t total = static_cast<size_t>(size) + AacHelper::kAdtsHeaderSize;
        m_scratch.clear();
        if (!m_scratch.ensure(total + AacHelper::kAdtsHeaderSize)) {
            return false;
        }
        uint8_t header[AacHelper::kAdtsHeaderSize];
        AacHelper::makeAdtsHeader(m_config.audioProfile, m_config.sampleRate, m_config.channels,
                                  static_cast<int>(total), header, sizeof header);
        m_scratch.write(header, sizeof header);
        m_scratch.write(data, static_cast<size_t>(size));
        payload = m_scratch.data();
        payloadSize = static_cast<int>(m_scratch.size());
    }

    av_packet_unref(m_packet);
    m_packet->data = const_cast<uint8_t*>(payload);  // not owned: FFmpeg copies as needed
    m_packet->size = payloadSize;
    m_packet->pts = pts;
    m_packet->dts = pts;
    m_packet->flags = flags & AV_PKT_FLAG_KEY;
    m_packet->stream_index = streamIndex;
    av_packet_rescale_ts(m_packet, AVRational{1, clock}, AVRational{1, kTsClock});
    if (m_muxRate > 0) {
        if (isVideo && m_skipToKey && (flags & AV_PKT_FLAG_KEY) == 0) {
            return overrun();
        }
        if (wouldOverrun(m_packet->dts, payloadSize)) {
            m_skipToKey = m_skipToKey || isVideo;
            return overrun();
        }
        if (isVideo) {
            m_skipToKey = false;
        }
    }
    m_lastPts = m_packet->pts;
    const int rc = av_interleaved_write_frame(m_context, m_packet);
    return rc == 0;
}

bool FfmpegTsMuxer::wouldOverrun(int64_t dts90k, int size) {
    if (dts90k == AV_NOPTS_VALUE) {
        return false;
    }
    // FFmpeg's schedule, followed in the order the frames come (FFmpeg's interleaving queue
    // holds some back, so its own byte count would lag): a frame starts when the byte clock
    // reaches its decoding time less the delay (nulls before it), or later if the clock is
    // past that, and must be out by its decoding time. Decoding time: dts + twice the delay.
    const int64_t delay90k = av_rescale(kMuxDelayUs, kTsClock, AV_TIME_BASE);
    const int64_t due90k = dts90k + 2 * delay90k;
    const int64_t packets = (size + kPesHeaderBytes + kTsPayloadBytes - 1) / kTsPayloadBytes;
    const int64_t start90k = std::max(m_scheduleEnd90k, due90k - delay90k);
    const int64_t end90k = start90k + av_rescale(packets * kTsPacketBytes, 8 * kTsClock, m_muxRate);
    // Half the delay is kept in hand for tables, PCR packets and FFmpeg's rounding.
    if (end90k > due90k - delay90k / 2) {
        return true;
    }
    m_scheduleEnd90k = end90k;
    return false;
}

bool FfmpegTsMuxer::overrun() {
    ++m_overruns;
    return false;
}

}  // namespace av
