#include "FlvPublisher.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include <cstring>

namespace av {
namespace {

std::string errorText(const char* stage, int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof(text));
    return std::string(stage) + ": " + text;
}

bool setExtradata(AVCodecParameters* parameters, const std::string& bytes) {
    if (bytes.empty()) {
        return true;
    }
    parameters->extradata =
        static_cast<uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (parameters->extradata == nullptr) {
        return false;
    }
    std::memcpy(parameters->extradata, bytes.data(), bytes.size());
    parameters->extradata_size = static_cast<int>(bytes.size());
    return true;
}

}  // namespace

int FlvPublisher::open(const std::string& url, const FlvStreams& streams, const FlvTlsSettings& tls,
                       const AVIOInterruptCB& interrupt, std::string& error) {
    close();
    int status = avformat_alloc_output_context2(&m_context, nullptr, "flv", nullptr);
    if (status < 0 || m_context == nullptr) {
        error = errorText("flv muxer", status < 0 ? status : AVERROR(ENOMEM));
        return status < 0 ? status : AVERROR(ENOMEM);
    }
    m_context->interrupt_callback = interrupt;
    if (streams.hasVideo) {
        AVStream* stream = avformat_new_stream(m_context, nullptr);
        if (stream == nullptr) {
            error = errorText("flv muxer", AVERROR(ENOMEM));
            return AVERROR(ENOMEM);
        }
        AVCodecParameters* p = stream->codecpar;
        p->codec_type = AVMEDIA_TYPE_VIDEO;
        p->codec_id = AV_CODEC_ID_H264;
        p->width = streams.width;
        p->height = streams.height;
        stream->time_base = AVRational{1, 1000};
        if (!setExtradata(p, streams.videoConfig)) {
            error = errorText("flv muxer", AVERROR(ENOMEM));
            return AVERROR(ENOMEM);
        }
        m_videoIndex = stream->index;
    }
    if (streams.hasAudio) {
        AVStream* stream = avformat_new_stream(m_context, nullptr);
        if (stream == nullptr) {
            error = errorText("flv muxer", AVERROR(ENOMEM));
            return AVERROR(ENOMEM);
        }
        AVCodecParameters* p = stream->codecpar;
        p->codec_type = AVMEDIA_TYPE_AUDIO;
        p->codec_id = AV_CODEC_ID_AAC;
        p->sample_rate = streams.sampleRate;
        av_channel_layout_default(&p->ch_layout, streams.channels > 0 ? streams.channels : 2);
        p->frame_size = 1024;  // AAC LC: samples per frame
        stream->time_base = AVRational{1, 1000};
        if (!setExtradata(p, streams.audioConfig)) {
            error = errorText("flv muxer", AVERROR(ENOMEM));
            return AVERROR(ENOMEM);
        }
        m_audioIndex = stream->index;
    }

    // Options of FFmpeg's tls protocol, which its RTMP client passes on for rtmps://.
    AVDictionary* options = nullptr;
    if (url.compare(0, 6, "rtmps:") == 0 || url.compare(0, 6, "RTMPS:") == 0) {
        av_dict_set(&options, "tls_verify", tls.verify ? "1" : "0", 0);
        if (!tls.caFile.empty()) {
            av_dict_set(&options, "ca_file", tls.caFile.c_str(), 0);
        }
    }
    status = avio_open2(&m_context->pb, url.c_str(), AVIO_FLAG_WRITE,
                        &m_context->interrupt_callback, &options);
    av_dict_free(&options);
    if (status < 0) {
        error = errorText("connect or publish", status);
        return status;
    }
    // A live connection cannot seek back to fill in duration and size at the end.
    AVDictionary* muxOptions = nullptr;
    av_dict_set(&muxOptions, "flvflags", "no_duration_filesize", 0);
    status = avformat_write_header(m_context, &muxOptions);
    av_dict_free(&muxOptions);
    if (status >= 0) {
        avio_flush(m_context->pb);
        status = m_context->pb->error;
    }
    if (status < 0) {
        error = errorText("sequence headers", status);
        return status;
    }
    m_headerWritten = true;
    return 0;
}

int FlvPublisher::write(const RtmpFrame& frame, std::string& error) {
    const int index = frame.video ? m_videoIndex : m_audioIndex;
    if (m_context == nullptr || !m_headerWritten || index < 0) {
        return 0;  // a stream this push does not carry
    }
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) {
        error = errorText("send", AVERROR(ENOMEM));
        return AVERROR(ENOMEM);
    }
    // Not reference counted: av_write_frame uses the bytes during the call only.
    packet->data = const_cast<uint8_t*>(frame.bytes.data());
    packet->size = static_cast<int>(frame.bytes.size());
    packet->stream_index = index;
    packet->pts =
        av_rescale_q(frame.timeMs, AVRational{1, 1000}, m_context->streams[index]->time_base);
    packet->dts = packet->pts;
    packet->flags = frame.key && frame.video ? AV_PKT_FLAG_KEY : 0;
    int status = av_write_frame(m_context, packet);
    av_packet_free(&packet);
    if (status >= 0) {
        avio_flush(m_context->pb);
        status = m_context->pb->error;
    }
    if (status < 0) {
        error = errorText("send", status);
    }
    return status;
}

void FlvPublisher::close() {
    if (m_context == nullptr) {
        return;
    }
    if (m_headerWritten && m_context->pb != nullptr && m_context->pb->error >= 0) {
        av_write_trailer(m_context);
    }
    if (m_context->pb != nullptr) {
        avio_closep(&m_context->pb);
    }
    avformat_free_context(m_context);
    m_context = nullptr;
    m_videoIndex = -1;
    m_audioIndex = -1;
    m_headerWritten = false;
}

uint64_t FlvPublisher::bytes() const {
    if (m_context == nullptr || m_context->pb == nullptr) {
        return 0;
    }
    const int64_t position = avio_tell(m_context->pb);
    return position > 0 ? static_cast<uint64_t>(position) : 0;
}

}  // namespace av
