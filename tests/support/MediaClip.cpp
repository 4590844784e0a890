#include "MediaClip.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

#include <memory>

#include "TestSupport.h"

namespace sluicetest {
namespace {

std::string ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

struct InputCloser {
    void operator()(AVFormatContext* ctx) const { avformat_close_input(&ctx); }
};
struct FilterCloser {
    void operator()(AVBSFContext* ctx) const { av_bsf_free(&ctx); }
};
struct PacketCloser {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

}  // namespace

bool makeClip(const std::string& dir, double seconds, int width, int height, std::string& error) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string length = std::to_string(seconds);
    const std::string video = "-c:v libx264 -preset ultrafast -bf 0 -g 25 -pix_fmt yuv420p";
    const std::string audio = "-c:a aac -ac 2 -b:a 64k";
    const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc2=size=" + size +
                            ":rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t " +
                            length + " " + video + " " + audio + " '" + dir + "/clip.mp4' " +
                            "-map 0:v -t " + length + " " + video + " -f h264 '" + dir +
                            "/clip.h264' -map 1:a -t " + length + " " + audio + " -f adts '" + dir +
                            "/clip.aac' 2>&1";
    std::string output;
    if (testsupport::shell(cmd, &output) != 0) {
        error = "ffmpeg failed: " + output;
        return false;
    }
    return true;
}

bool readFrames(const std::string& path, std::vector<TestFrame>& frames, ClipInfo& info,
                std::string& error) {
    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        error = path + ": " + ffmpegError(rc);
        return false;
    }
    std::unique_ptr<AVFormatContext, InputCloser> input(raw);
    if ((rc = avformat_find_stream_info(raw, nullptr)) < 0) {
        error = ffmpegError(rc);
        return false;
    }
    const int videoIndex = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audioIndex = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    std::unique_ptr<AVBSFContext, FilterCloser> filter;
    if (videoIndex >= 0) {
        const AVCodecParameters* par = raw->streams[videoIndex]->codecpar;
        info.width = par->width;
        info.height = par->height;
        info.videoProfile = par->profile;
        AVBSFContext* bsf = nullptr;
        const char* toAnnexB =
            par->codec_id == AV_CODEC_ID_HEVC ? "hevc_mp4toannexb" : "h264_mp4toannexb";
        if (av_bsf_alloc(av_bsf_get_by_name(toAnnexB), &bsf) < 0) {
            error = std::string("no ") + toAnnexB;
            return false;
        }
        filter.reset(bsf);
        avcodec_parameters_copy(bsf->par_in, par);
        bsf->time_base_in = raw->streams[videoIndex]->time_base;
        if (av_bsf_init(bsf) < 0) {
            error = std::string(toAnnexB) + " failed";
            return false;
        }
    }
    if (audioIndex >= 0) {
        const AVCodecParameters* par = raw->streams[audioIndex]->codecpar;
        info.sampleRate = par->sample_rate;
        info.channels = par->ch_layout.nb_channels;
        info.audioProfile = par->profile >= 0 ? par->profile : 1;
        info.audioConfig.assign(reinterpret_cast<const char*>(par->extradata),
                                static_cast<size_t>(par->extradata_size));
    }
    std::unique_ptr<AVPacket, PacketCloser> packet(av_packet_alloc());
    auto take = [&](const AVPacket* p, int index) {
        TestFrame frame;
        frame.type = index == videoIndex ? 0 : 1;
        frame.bytes.assign(reinterpret_cast<const char*>(p->data), static_cast<size_t>(p->size));
        const int64_t ts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
        frame.ptsUs = av_rescale_q(ts, raw->streams[index]->time_base, AVRational{1, 1000000});
        frame.key = (p->flags & AV_PKT_FLAG_KEY) != 0;
        frames.push_back(std::move(frame));
    };
    bool ended = false;
    while (!ended) {
        if (av_read_frame(raw, packet.get()) < 0) {
            ended = true;
            if (filter != nullptr) {
                av_bsf_send_packet(filter.get(), nullptr);
            }
        } else if (packet->stream_index == videoIndex) {
            av_bsf_send_packet(filter.get(), packet.get());
        } else if (packet->stream_index == audioIndex) {
            take(packet.get(), audioIndex);
        }
        av_packet_unref(packet.get());
        while (filter != nullptr && av_bsf_receive_packet(filter.get(), packet.get()) == 0) {
            take(packet.get(), videoIndex);
            av_packet_unref(packet.get());
        }
    }
    return true;
}

}  // namespace sluicetest
