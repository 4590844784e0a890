#include "AudioEncoder.h"

#include <cmath>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace ksim {
namespace {

constexpr int kDefaultSampleRate = 48000;
constexpr int kDefaultBitrate = 64000;
constexpr int kMinBitrate = 16000;
constexpr int kMaxBitrate = 320000;
// The sampling frequencies an ADTS header can name.
constexpr int kAacRates[] = {96000, 88200, 64000, 48000, 44100, 32000,
                             24000, 22050, 16000, 12000, 11025, 8000};
constexpr double kToneHz = 1000.0;
constexpr double kBeepSeconds = 0.15;  // of every second: a cue to line sound up with picture
constexpr double kAmplitude = 0.2;     // about -14 dBFS
constexpr double kPi = 3.14159265358979323846;

}  // namespace

bool AudioEncoder::open(int sampleRate, int channels, int bitrate, std::string& note,
                        std::string& why) {
    m_context.reset();
    bool rateOk = false;
    for (int rate : kAacRates) {
        rateOk = rateOk || rate == sampleRate;
    }
    if (!rateOk) {
        note =
            "audio sample rate " + std::to_string(sampleRate) + " is not an AAC rate, using 48000";
        sampleRate = kDefaultSampleRate;
    }
    if (bitrate < kMinBitrate || bitrate > kMaxBitrate) {
        note += std::string(note.empty() ? "" : "; ") + "audio bit rate " +
                std::to_string(bitrate) + " is outside 16000-320000, using 64000";
        bitrate = kDefaultBitrate;
    }
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (codec == nullptr) {
        why = "this libavcodec has no AAC encoder";
        return false;
    }
    CodecContextPtr context(avcodec_alloc_context3(codec));
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!context || !frame || !packet) {
        why = "out of memory";
        return false;
    }
    context->sample_fmt = AV_SAMPLE_FMT_FLTP;
    context->sample_rate = sampleRate;
    av_channel_layout_default(&context->ch_layout, channels);
    context->bit_rate = bitrate;
    context->time_base = AVRational{1, sampleRate};
    // The multiplexer builds ADTS headers from the AudioSpecificConfig in extradata.
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int rc = avcodec_open2(context.get(), codec, nullptr);
    if (rc < 0) {
        why = "cannot open the AAC encoder: " + ffmpegError(rc);
        return false;
    }
    frame->format = context->sample_fmt;
    frame->nb_samples = context->frame_size;
    frame->sample_rate = sampleRate;
    av_channel_layout_copy(&frame->ch_layout, &context->ch_layout);
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        why = "out of memory for audio samples";
        return false;
    }
    m_config.assign(context->extradata, context->extradata + context->extradata_size);
    m_sampleRate = sampleRate;
    m_channels = channels;
    m_bitrate = bitrate;
    m_nextSample = 0;
    m_context = std::move(context);
    m_frame = std::move(frame);
    m_packet = std::move(packet);
    return true;
}

void AudioEncoder::close() {
    m_context.reset();
    m_frame.reset();
    m_packet.reset();
}

int AudioEncoder::frameSize() const {
    return m_context ? m_context->frame_size : 0;
}

bool AudioEncoder::encodeNext(const Sink& sink) {
    if (!m_context || av_frame_make_writable(m_frame.get()) < 0) {
        return false;
    }
    const int samples = m_frame->nb_samples;
    for (int i = 0; i < samples; ++i) {
        const int64_t n = m_nextSample + i;
        const double t = double(n) / m_sampleRate;
        const bool beep = std::fmod(t, 1.0) < kBeepSeconds;
        const float value = beep ? float(kAmplitude * std::sin(2 * kPi * kToneHz * t)) : 0.0f;
        for (int c = 0; c < m_channels; ++c) {
            reinterpret_cast<float*>(m_frame->data[c])[i] = value;
        }
    }
    m_frame->pts = m_nextSample;
    m_nextSample += samples;
    if (avcodec_send_frame(m_context.get(), m_frame.get()) < 0) {
        return false;
    }
    for (;;) {
        const int rc = avcodec_receive_packet(m_context.get(), m_packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) {
            return true;
        }
        if (rc < 0) {
            return false;
        }
        sink(Unit{m_packet->data, m_packet->size, m_packet->pts});
        av_packet_unref(m_packet.get());
    }
}

}  // namespace ksim
