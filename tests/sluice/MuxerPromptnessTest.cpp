// The multiplexer hands a frame on as soon as it is written: a live sender's frames come in
// time order from the encoders, and holding one back until the other stream catches up
// (FFmpeg's interleaving) delays and bunches the output that the paced sender then spreads.
#include <gtest/gtest.h>

#include <string>

#include "FfmpegTsMuxer.h"
#include "sluice.h"

using av::FfmpegTsMuxer;
using av::MediaCasterConfig;

namespace {

class CountingSink : public av::TsMuxerSink {
public:
    void onMuxData(const uint8_t*, size_t size, int64_t pts, int) override {
        bytes += size;
        backwards += pts < lastPts ? 1 : 0;
        lastPts = pts;
    }
    size_t bytes = 0;
    int64_t lastPts = 0;
    int backwards = 0;  // output tagged with an earlier timestamp than the output before
};

MediaCasterConfig videoAndAudio() {
    MediaCasterConfig c;
    c.videoCodec = SLUICE_CODEC_H264;
    c.width = 320;
    c.height = 240;
    c.audioCodec = SLUICE_CODEC_AAC;
    c.sampleRate = 48000;
    c.channels = 2;
    c.audioProfile = 1;
    return c;
}

std::string keyFrame(size_t size) {
    std::string nal("\x00\x00\x00\x01\x65", 5);
    nal.resize(size, '\x5a');
    return nal;
}

}  // namespace

// Video frames, then audio frames older than the last picture (a separate encoder that runs
// a little behind): each frame's bytes are out before the next write, less at most the
// output block still being filled. The timestamps the output is tagged with (RTP's clock)
// never go back.
TEST(FfmpegTsMuxerPromptness, EachFrameLeavesBeforeTheNextWrite) {
    constexpr size_t kBlock = 1316;
    CountingSink sink;
    FfmpegTsMuxer muxer;
    muxer.setSink(&sink);
    ASSERT_EQ(muxer.open(videoAndAudio()), 0);
    const std::string frame = keyFrame(20000);
    const auto* video = reinterpret_cast<const uint8_t*>(frame.data());
    const std::string aac(300, '\x22');
    const auto* audio = reinterpret_cast<const uint8_t*>(aac.data());

    struct Write {
        int type;
        int64_t pts;  // microseconds for video, samples for audio
    };
    const Write writes[] = {
        {0, 0}, {0, 33333}, {0, 66667}, {1, 0}, {1, 1024}, {0, 100000}, {1, 2048},
    };
    size_t written = 0;
    for (const Write& w : writes) {
        const bool isVideo = w.type == 0;
        const int size = static_cast<int>(isVideo ? frame.size() : aac.size());
        ASSERT_TRUE(muxer.write(w.type, isVideo ? video : audio, size, w.pts, 0, isVideo ? 1 : 0));
        written += static_cast<size_t>(size);
        if (isVideo) {
            // Audio may wait in FFmpeg's PES buffer; every picture so far must be out.
            size_t pictures = 0;
            for (const Write& before : writes) {
                if (&before > &w) {
                    break;
                }
                pictures += before.type == 0 ? frame.size() : 0;
            }
            EXPECT_GE(sink.bytes + kBlock, pictures) << "after the picture at " << w.pts;
        }
    }
    muxer.close();
    EXPECT_GT(sink.bytes, written);  // headers and tables on top of the payload
    EXPECT_EQ(sink.backwards, 0);
    EXPECT_EQ(sink.lastPts, 9000);  // 100 ms, the latest picture
}
