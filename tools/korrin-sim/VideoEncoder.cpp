#include "VideoEncoder.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace ksim {
namespace {

// The lightest x264/x265 presets: the demo's two streams then stay within about one core.
constexpr const char* kPreset = "superfast";
// One thread per encoder up to this many pixels; larger pictures get two.
constexpr int kSingleThreadPixels = 1280 * 720;
// The rate buffer in constant-bit-rate mode: half a second, so the rate holds over spans of
// a few seconds (a receiver's SRT figures, a benchmark's run).
constexpr int kCbrBufferMs = 500;

}  // namespace

bool VideoEncoder::open(const EncodeParams& params, std::string& note, std::string& why) {
    m_context.reset();
    m_params = params;
    const char* name = params.codec == "H.265" ? "libx265" : "libx264";
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (codec == nullptr && params.codec == "H.265") {
        note = "this libavcodec has no libx265 encoder; encoding H.264 instead of H.265";
        m_params.codec = "H.264";
        name = "libx264";
        codec = avcodec_find_encoder_by_name(name);
    }
    if (codec == nullptr) {
        why = std::string("this libavcodec has no ") + name + " encoder";
        return false;
    }
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) {
        why = "out of memory";
        return false;
    }
    context->width = m_params.width;
    context->height = m_params.height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, m_params.fps};
    context->framerate = AVRational{m_params.fps, 1};
    context->gop_size = m_params.gop;
    context->max_b_frames = 0;  // no reordering: every unit's pts is its decode time
    context->bit_rate = int64_t(m_params.bitrateKbps) * 1000;
    context->rc_max_rate = context->bit_rate;
    context->rc_buffer_size = int(context->bit_rate);  // one second of buffer
    context->thread_count = m_params.width * m_params.height > kSingleThreadPixels ? 2 : 1;
    av_opt_set(context->priv_data, "preset", kPreset, 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "forced-idr", "1", 0);
    if (m_params.cbr) {
        // The floor equal to the ceiling makes the rate constant; a shorter buffer keeps it
        // constant over shorter spans, as a hardware encoder's CBR does.
        context->rc_min_rate = context->bit_rate;
        context->rc_buffer_size = int(context->bit_rate * kCbrBufferMs / 1000);
    }
    if (m_params.codec == "H.265") {
        // x265 has no filler: strict CBR spends the rate on quality instead (lower QP).
        av_opt_set(context->priv_data, "x265-params",
                   m_params.cbr ? "log-level=error:strict-cbr=1" : "log-level=error", 0);
    } else if (m_params.cbr) {
        // HRD signalling in CBR mode makes x264 pad every frame up to the rate with filler
        // units, so the stream carries the set rate even when the picture is easy.
        av_opt_set(context->priv_data, "nal-hrd", "cbr", 0);
    }
    const int rc = avcodec_open2(context.get(), codec, nullptr);
    if (rc < 0) {
        why = std::string("cannot open ") + name + ": " + ffmpegError(rc);
        return false;
    }
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!frame || !packet) {
        why = "out of memory";
        return false;
    }
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = m_params.width;
    frame->height = m_params.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        why = "out of memory for a picture";
        return false;
    }
    m_context = std::move(context);
    m_frame = std::move(frame);
    m_packet = std::move(packet);
    return true;
}

void VideoEncoder::close() {
    m_context.reset();
    m_frame.reset();
    m_packet.reset();
}

PicturePlanes VideoEncoder::picture() {
    PicturePlanes p;
    // The encoder may still hold the previous picture.
    if (m_frame && av_frame_make_writable(m_frame.get()) >= 0) {
        for (int i = 0; i < 3; ++i) {
            p.data[i] = m_frame->data[i];
            p.stride[i] = m_frame->linesize[i];
        }
        p.width = m_frame->width;
        p.height = m_frame->height;
    }
    return p;
}

bool VideoEncoder::encode(int64_t pts, bool forceKey, const Sink& sink) {
    if (!m_context) {
        return false;
    }
    m_frame->pts = pts;
    m_frame->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
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
        sink(Unit{m_packet->data, m_packet->size, m_packet->pts,
                  (m_packet->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(m_packet.get());
    }
}

}  // namespace ksim
