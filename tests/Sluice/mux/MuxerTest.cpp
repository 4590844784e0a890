// The FFmpeg 5.1 transport stream multiplexer: streams, clocks, ADTS, output blocks and the
// translation of the interface's codec identifiers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

#include "CodecIdMap.h"
#include "FfmpegTsMuxer.h"
#include "LogCapture.h"
#include "MediaClip.h"
#include "TestSupport.h"
#include "sluice.h"

using av::FfmpegTsMuxer;
using av::MediaCasterConfig;

namespace {

class CollectingSink : public av::TsMuxerSink {
public:
    void onMuxData(const uint8_t* data, size_t size, int64_t, int) override {
        joined.append(reinterpret_cast<const char*>(data), size);
    }
    std::string joined;
};

MediaCasterConfig audioOnly() {
    MediaCasterConfig c;
    c.audioCodec = SLUICE_CODEC_AAC;
    c.sampleRate = 48000;
    c.channels = 2;
    c.audioProfile = 1;
    return c;
}

MediaCasterConfig videoOnly(int codec) {
    MediaCasterConfig c;
    c.videoCodec = codec;
    c.width = 320;
    c.height = 240;
    return c;
}

std::string adtsFor371() {
    return std::string("\xFF\xF1\x4C\x80\x2F\x5F\xFC", 7);
}

}  // namespace

TEST(CodecIdMap, InterfaceNumbersTranslateToTheLinkedFfmpeg) {
    EXPECT_EQ(av::CodecIdMap::toFfmpegVideo(SLUICE_CODEC_H264), AV_CODEC_ID_H264);
    EXPECT_EQ(av::CodecIdMap::toFfmpegVideo(SLUICE_CODEC_H265), AV_CODEC_ID_HEVC);
    EXPECT_EQ(AV_CODEC_ID_H264, 27);  // FFmpeg 5.1: one codec fewer before H.264
    EXPECT_EQ(av::CodecIdMap::toFfmpegVideo(27), 0);
    EXPECT_EQ(av::CodecIdMap::toFfmpegVideo(0), 0);
    EXPECT_EQ(av::CodecIdMap::toFfmpegVideo(SLUICE_CODEC_AAC), 0);
    EXPECT_EQ(av::CodecIdMap::toFfmpegAudio(SLUICE_CODEC_AAC), AV_CODEC_ID_AAC);
    EXPECT_EQ(av::CodecIdMap::toFfmpegAudio(65542), AV_CODEC_ID_PCM_MULAW);
    EXPECT_EQ(av::CodecIdMap::toFfmpegAudio(SLUICE_CODEC_H264), 0);
    EXPECT_EQ(av::CodecIdMap::toFfmpegAudio(0x17000), 0);  // a subtitle codec
}

TEST(FfmpegTsMuxer, NoStreamMeans19AndAnUnknownCodecIsLeftOut) {
    sluicetest::LogCapture log;
    FfmpegTsMuxer muxer;
    EXPECT_EQ(muxer.open(MediaCasterConfig()), ENODEV);
    EXPECT_FALSE(muxer.isOpen());
    EXPECT_TRUE(log.all().empty());

    // FFmpeg's own H.264 number is no identifier of the interface.
    MediaCasterConfig unknown;
    unknown.videoCodec = 27;
    unknown.audioCodec = 12;
    EXPECT_EQ(muxer.open(unknown), ENODEV);
    EXPECT_EQ(log.count("no such video codec. id:27\n"), 1u);
    EXPECT_EQ(log.count("no such audio codec. id:12\n"), 1u);
    EXPECT_FALSE(muxer.write(1, reinterpret_cast<const uint8_t*>("abcdefgh"), 8, 0, 0, 0));

    // One unknown codec only costs its own stream.
    MediaCasterConfig config = audioOnly();
    config.videoCodec = 999;
    ASSERT_EQ(muxer.open(config), 0);
    EXPECT_EQ(muxer.audioStream(), 0);
    EXPECT_EQ(log.count("no such video codec. id:999\n"), 1u);
}

TEST(FfmpegTsMuxer, ClocksAreRescaledTo90kHz) {
    CollectingSink sink;
    FfmpegTsMuxer muxer;
    muxer.setSink(&sink);
    MediaCasterConfig config = audioOnly();
    config.videoCodec = SLUICE_CODEC_H264;
    ASSERT_EQ(muxer.open(config), 0);
    const std::string nal("\x00\x00\x00\x01\x65\x88\x84\x00", 8);
    const auto* video = reinterpret_cast<const uint8_t*>(nal.data());
    muxer.write(0, video, static_cast<int>(nal.size()), 1000000, 0, 1);  // microseconds
    EXPECT_EQ(muxer.lastPts(), 90000);
    const std::string aac(100, '\x22');
    muxer.write(1, reinterpret_cast<const uint8_t*>(aac.data()), 100, 48000, 0, 0);  // samples
    EXPECT_EQ(muxer.lastPts(), 90000);
    muxer.close();

    config.videoClock = 90000;
    config.audioClock = 1000;
    ASSERT_EQ(muxer.open(config), 0);
    muxer.write(0, video, static_cast<int>(nal.size()), 12345, 0, 1);
    EXPECT_EQ(muxer.lastPts(), 12345);
    muxer.write(1, reinterpret_cast<const uint8_t*>(aac.data()), 100, 20000, 0, 0);
    EXPECT_EQ(muxer.lastPts(), 1800000);
}

TEST(FfmpegTsMuxer, RawAacGetsAnAdtsHeaderAndFramedAacIsKept) {
    CollectingSink sink;
    FfmpegTsMuxer muxer;
    muxer.setSink(&sink);
    ASSERT_EQ(muxer.open(audioOnly()), 0);
    const std::string raw(371, '\x11');
    muxer.write(1, reinterpret_cast<const uint8_t*>(raw.data()), 371, 0, 0, 0);
    const std::string framed = adtsFor371() + std::string(371, '\x33');
    muxer.write(1, reinterpret_cast<const uint8_t*>(framed.data()), 378, 1024, 0, 0);
    muxer.close();  // audio waits in FFmpeg's PES buffer until the trailer
    const std::string& ts = sink.joined;
    EXPECT_NE(ts.find(adtsFor371() + std::string(8, '\x11')), std::string::npos);
    EXPECT_NE(ts.find(adtsFor371() + std::string(8, '\x33')), std::string::npos);
    EXPECT_EQ(ts.find(adtsFor371() + adtsFor371()), std::string::npos);
}

// Streams exist only for the configured codecs, indexed from 0; frames of a missing stream
// and frames to a closed multiplexer are refused. An open multiplexer is closed by open.
TEST(FfmpegTsMuxer, StreamsFollowTheConfiguration) {
    CollectingSink sink;
    FfmpegTsMuxer muxer;
    muxer.setSink(&sink);
    const std::string aac(50, '\x01');
    const auto* bytes = reinterpret_cast<const uint8_t*>(aac.data());
    EXPECT_FALSE(muxer.write(1, bytes, 50, 0, 0, 0));
    muxer.close();  // closing a closed multiplexer does nothing
    ASSERT_EQ(muxer.open(audioOnly()), 0);
    EXPECT_EQ(muxer.audioStream(), 0);
    EXPECT_EQ(muxer.videoStream(), -1);
    EXPECT_FALSE(muxer.write(0, bytes, 50, 0, 0, 1));
    EXPECT_TRUE(muxer.write(1, bytes, 50, 0, 0, 0));
    ASSERT_EQ(muxer.open(videoOnly(SLUICE_CODEC_H265)), 0);
    EXPECT_EQ(muxer.videoStream(), 0);
    EXPECT_EQ(muxer.audioStream(), -1);
    EXPECT_FALSE(muxer.write(1, bytes, 50, 0, 0, 0));
    muxer.close();
    EXPECT_FALSE(muxer.isOpen());
    EXPECT_EQ(muxer.videoStream(), -1);
}

// Constant rate: what a broadcast receiver checks in the bytes themselves.
namespace {

struct TsWalk {
    std::vector<std::pair<size_t, int64_t>> pcrs;  // packet index, PCR in 27 MHz
    size_t nulls = 0;
    size_t packets = 0;
    bool continuityBroken = false;
    std::set<int> pids;
};

TsWalk walk(const std::string& ts) {
    TsWalk w;
    std::map<int, int> lastCc;
    for (size_t at = 0; at + 188 <= ts.size(); at += 188, ++w.packets) {
        const auto* p = reinterpret_cast<const uint8_t*>(ts.data() + at);
        const int pid = (p[1] & 0x1F) << 8 | p[2];
        w.pids.insert(pid);
        if (pid == 0x1FFF) {
            ++w.nulls;
            continue;
        }
        const bool payload = (p[3] & 0x10) != 0;
        const bool adaptation = (p[3] & 0x20) != 0;
        if (payload) {
            const int cc = p[3] & 0x0F;
            if (lastCc.count(pid) != 0 && cc != ((lastCc[pid] + 1) & 0x0F)) {
                w.continuityBroken = true;
            }
            lastCc[pid] = cc;
        }
        if (adaptation && p[4] >= 7 && (p[5] & 0x10) != 0) {
            const int64_t base =
                static_cast<int64_t>(p[6]) << 25 | p[7] << 17 | p[8] << 9 | p[9] << 1 | p[10] >> 7;
            const int64_t extension = (p[10] & 0x01) << 8 | p[11];
            w.pcrs.emplace_back(w.packets, base * 300 + extension);
        }
    }
    return w;
}

class ConstantRate : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sluicetest::makeClip(m_dir.path(), 2, 320, 240, error)) << error;
        ASSERT_TRUE(sluicetest::readFrames(m_dir.file("clip.mp4"), m_frames, m_info, error))
            << error;
        // In time order, as an encoder hands them over (the file interleaves in chunks).
        std::stable_sort(m_frames.begin(), m_frames.end(),
                         [](const auto& a, const auto& b) { return a.ptsUs < b.ptsUs; });
    }
    // The clip multiplexed at rate (0: variable); overruns in *overruns.
    std::string mux(int64_t rate, uint64_t* overruns = nullptr) {
        FfmpegTsMuxer muxer;
        CollectingSink sink;
        muxer.setSink(&sink);
        muxer.setMuxRate(rate);
        EXPECT_EQ(muxer.open(sluicetest::clipConfig(m_info)), 0);
        sluicetest::writeFrames(muxer, m_frames);
        if (overruns != nullptr) {
            *overruns = muxer.overruns();
        }
        muxer.close();
        return sink.joined;
    }

    testsupport::TempDir m_dir;
    std::vector<sluicetest::TestFrame> m_frames;
    sluicetest::ClipInfo m_info;
};

}  // namespace

// Between any two PCRs lie as many bytes as the rate gives for their distance (within one
// packet); the padding is null packets on 0x1FFF only, which a variable stream never has.
TEST_F(ConstantRate, BytesPerPcrIntervalMatchTheRateAndPaddingIsNullPackets) {
    constexpr int64_t kRate = 2'000'000;
    uint64_t overruns = 0;
    const TsWalk cbr = walk(mux(kRate, &overruns));
    EXPECT_EQ(overruns, 0u);
    ASSERT_GT(cbr.pcrs.size(), 50u);
    EXPECT_GT(cbr.nulls, cbr.packets / 4);  // the clip is well under 2 Mbit/s
    EXPECT_FALSE(cbr.continuityBroken);
    for (size_t i = 1; i < cbr.pcrs.size(); ++i) {
        const double bytes = 188.0 * static_cast<double>(cbr.pcrs[i].first - cbr.pcrs[i - 1].first);
        const double expected =
            static_cast<double>(cbr.pcrs[i].second - cbr.pcrs[i - 1].second) / 27e6 * kRate / 8;
        ASSERT_NEAR(bytes, expected, 188.0) << "PCR " << i;
        ASSERT_LE(cbr.pcrs[i].second - cbr.pcrs[i - 1].second, 40 * 27'000) << "PCR " << i;
    }
    const TsWalk vbr = walk(mux(0));
    EXPECT_EQ(vbr.nulls, 0u);
    EXPECT_EQ(vbr.pids.count(0x1FFF), 0u);
    std::set<int> withoutNulls = cbr.pids;
    withoutNulls.erase(0x1FFF);
    EXPECT_EQ(withoutNulls, vbr.pids);  // nothing but the nulls is added
}

// An encoder above the rate: frames are refused and counted, and what goes out stays a valid
// stream: continuity unbroken, the PCRs still the byte clock.
TEST_F(ConstantRate, FramesOverTheRateAreCountedAndTheStreamStaysValid) {
    constexpr int64_t kRate = 200'000;
    uint64_t overruns = 0;
    const TsWalk w = walk(mux(kRate, &overruns));
    EXPECT_GT(overruns, 0u);
    EXPECT_FALSE(w.continuityBroken);
    ASSERT_GT(w.pcrs.size(), 2u);
    for (size_t i = 1; i < w.pcrs.size(); ++i) {
        const double bytes = 188.0 * static_cast<double>(w.pcrs[i].first - w.pcrs[i - 1].first);
        const double expected =
            static_cast<double>(w.pcrs[i].second - w.pcrs[i - 1].second) / 27e6 * kRate / 8;
        ASSERT_NEAR(bytes, expected, 188.0) << "PCR " << i;
    }
}
