#include "MediaReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

#include "sluice.h"

namespace {

const AVRational kMicroseconds{1, 1000000};

std::string ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace

MediaReader::~MediaReader() {
    close();
}

void MediaReader::close() {
    av_bsf_free(&m_filter);
    av_packet_free(&m_packet);
    avformat_close_input(&m_input);
    m_videoIndex = -1;
    m_audioIndex = -1;
    m_draining = false;
}

bool MediaReader::open(const std::string& path, bool wantVideo, bool wantAudio,
                       std::string& error) {
    close();
    int rc = avformat_open_input(&m_input, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        error = path + ": " + ffmpegError(rc);
        return false;
    }
    rc = avformat_find_stream_info(m_input, nullptr);
    if (rc < 0) {
        error = path + ": " + ffmpegError(rc);
        return false;
    }
    m_packet = av_packet_alloc();
    if (wantVideo) {
        m_videoIndex = av_find_best_stream(m_input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (m_videoIndex >= 0 && !setUpVideo(error)) {
            return false;
        }
    }
    if (wantAudio) {
        m_audioIndex = av_find_best_stream(m_input, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (m_audioIndex >= 0 && !setUpAudio(error)) {
            return false;
        }
    }
    m_videoIndex = m_videoIndex < 0 ? -1 : m_videoIndex;
    m_audioIndex = m_audioIndex < 0 ? -1 : m_audioIndex;
    if (!hasVideo() && !hasAudio()) {
        error = path + ": no video or audio stream to cast";
        return false;
    }
    return true;
}

bool MediaReader::setUpVideo(std::string& error) {
    const AVStream* stream = m_input->streams[m_videoIndex];
    const AVCodecParameters* par = stream->codecpar;
    const char* filterName = nullptr;
    if (par->codec_id == AV_CODEC_ID_H264) {
        videoCodec = SLUICE_CODEC_H264;
        filterName = "h264_mp4toannexb";
    } else if (par->codec_id == AV_CODEC_ID_HEVC) {
        videoCodec = SLUICE_CODEC_H265;
        filterName = "hevc_mp4toannexb";
    } else {
        error = std::string("video codec ") + avcodec_get_name(par->codec_id) +
                " cannot be cast (H.264 or H.265 only)";
        return false;
    }
    width = par->width;
    height = par->height;
    videoProfile = par->profile < 0 ? 0 : par->profile;
    const AVRational rate =
        stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) {
        m_videoIntervalUs = av_rescale_q(1, av_inv_q(rate), kMicroseconds);
    }

    const AVBitStreamFilter* filter = av_bsf_get_by_name(filterName);
    if (filter == nullptr || av_bsf_alloc(filter, &m_filter) < 0 ||
        avcodec_parameters_copy(m_filter->par_in, par) < 0) {
        error = std::string("cannot set up ") + filterName;
        return false;
    }
    m_filter->time_base_in = stream->time_base;
    const int rc = av_bsf_init(m_filter);
    if (rc < 0) {
        error = std::string(filterName) + ": " + ffmpegError(rc);
        return false;
    }
    const AVCodecParameters* out = m_filter->par_out;
    if (out->extradata_size >= 4 && out->extradata[0] == 0 && out->extradata[1] == 0) {
        videoConfig.assign(reinterpret_cast<const char*>(out->extradata),
                           static_cast<size_t>(out->extradata_size));
    }
    return true;
}

bool MediaReader::setUpAudio(std::string& error) {
    const AVCodecParameters* par = m_input->streams[m_audioIndex]->codecpar;
    if (par->codec_id < AV_CODEC_ID_FIRST_AUDIO || par->codec_id >= AV_CODEC_ID_FIRST_SUBTITLE) {
        error = "unexpected audio codec";
        return false;
    }
    audioCodec = par->codec_id;  // audio identifiers are the same in sluice.h's numbering
    channels = par->ch_layout.nb_channels;
    sampleRate = par->sample_rate;
    if (par->codec_id == AV_CODEC_ID_AAC) {
        audioProfile = par->profile >= 0 ? par->profile : FF_PROFILE_AAC_LOW;
    }
    if (par->extradata_size > 0) {
        audioConfig.assign(reinterpret_cast<const char*>(par->extradata),
                           static_cast<size_t>(par->extradata_size));
    }
    return true;
}

void MediaReader::toFrame(const AVPacket* packet, int streamIndex, CastFrame& out) {
    const AVStream* stream = m_input->streams[streamIndex];
    const bool video = streamIndex == m_videoIndex;
    int64_t& next = video ? m_nextVideoUs : m_nextAudioUs;
    out.type = video ? SLUICE_PACKET_VIDEO : SLUICE_PACKET_AUDIO;
    out.bytes.assign(packet->data, packet->data + packet->size);
    out.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    out.ptsUs = ts != AV_NOPTS_VALUE ? av_rescale_q(ts, stream->time_base, kMicroseconds) : next;
    out.durationUs =
        packet->duration > 0 ? av_rescale_q(packet->duration, stream->time_base, kMicroseconds) : 0;
    if (out.durationUs == 0) {
        const AVCodecParameters* par = stream->codecpar;
        out.durationUs = video ? m_videoIntervalUs
                               : (par->sample_rate > 0 && par->frame_size > 0
                                      ? int64_t{par->frame_size} * 1000000 / par->sample_rate
                                      : 0);
    }
    next = out.ptsUs + out.durationUs;
    if (video && packet->pts != AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE &&
        packet->pts != packet->dts) {
        m_reordered = true;
    }
}

bool MediaReader::receiveFiltered(CastFrame& out) {
    if (av_bsf_receive_packet(m_filter, m_packet) < 0) {
        return false;
    }
    toFrame(m_packet, m_videoIndex, out);
    av_packet_unref(m_packet);
    return true;
}

bool MediaReader::next(CastFrame& out) {
    if (m_input == nullptr) {
        return false;
    }
    for (;;) {
        if (m_filter != nullptr && receiveFiltered(out)) {
            return true;
        }
        if (m_draining) {
            return false;
        }
        if (av_read_frame(m_input, m_packet) < 0) {
            m_draining = true;
            if (m_filter != nullptr) {
                av_bsf_send_packet(m_filter, nullptr);
            }
            continue;
        }
        if (m_packet->stream_index == m_videoIndex) {
            // The filter takes the packet's reference; its output arrives at the loop's top.
            if (av_bsf_send_packet(m_filter, m_packet) < 0) {
                av_packet_unref(m_packet);
            }
            continue;
        }
        if (m_packet->stream_index == m_audioIndex) {
            toFrame(m_packet, m_audioIndex, out);
            av_packet_unref(m_packet);
            return true;
        }
        av_packet_unref(m_packet);
    }
}
