// Key-frame detection, parameter-set joining and ADTS headers.
#include <gtest/gtest.h>

#include <string>

#include "AacHelper.h"
#include "H264PropDetector.h"
#include "NaluJoiner.h"

using av::AacHelper;
using av::H264PropDetector;
using av::MediaFrame;
using av::NaluJoiner;

namespace {

using Bytes = std::basic_string<uint8_t>;

Bytes nal(uint8_t header, size_t payload = 4, bool longCode = true) {
    Bytes b = longCode ? Bytes{0, 0, 0, 1} : Bytes{0, 0, 1};
    b += header;
    b.append(payload, 0xAB);
    return b;
}

struct Parsed {
    bool key = false;
    int type = 0;
};

Parsed parse(int codec, const Bytes& frame, int presetType = 0) {
    H264PropDetector detector;
    detector.setCodec(codec);
    Parsed p;
    p.type = presetType;
    detector.parse(frame.data(), frame.size(), p.key, p.type);
    return p;
}

MediaFrame frameOf(const Bytes& bytes, int64_t pts, int flags = 0) {
    MediaFrame f;
    f.data = bytes.data();
    f.size = static_cast<int32_t>(bytes.size());
    f.pts = pts;
    f.flags = flags;
    return f;
}

Bytes bytesOf(const MediaFrame& f) {
    return Bytes(f.data, static_cast<size_t>(f.size));
}

}  // namespace

TEST(StartCode, ThreeAndFourByteForms) {
    const uint8_t three[] = {0, 0, 1, 0x65};
    const uint8_t four[] = {0, 0, 0, 1};
    const uint8_t none[] = {0, 1, 0, 1};
    EXPECT_TRUE(av::isStartCode(three, 4));
    EXPECT_TRUE(av::isStartCode(four, 4));
    EXPECT_FALSE(av::isStartCode(none, 4));
    EXPECT_FALSE(av::isStartCode(three, 3));  // too short to count
}

TEST(StartCode, FindSkipsToTheNextPrefix) {
    const Bytes frame = nal(0x67) + nal(0x68, 4, false) + nal(0x65);
    EXPECT_EQ(av::findStartCode(frame.data(), frame.size(), 3), 9);
    EXPECT_EQ(av::findStartCode(frame.data(), frame.size(), 10), 17);
    EXPECT_EQ(av::findStartCode(frame.data(), frame.size(), 18), 18);  // the 3-byte tail
    EXPECT_EQ(av::findStartCode(frame.data(), frame.size(), 19), -1);
}

TEST(H264PropDetector, ParameterSetsAndIdrAreKey) {
    const Parsed p = parse(28, nal(0x67) + nal(0x68) + nal(0x65));
    EXPECT_TRUE(p.key);
    EXPECT_EQ(p.type, 5);
}

TEST(H264PropDetector, ANonKeySliceIsNotKey) {
    const Parsed p = parse(28, nal(0x41, 100, false));
    EXPECT_FALSE(p.key);
    EXPECT_EQ(p.type, 1);
}

TEST(H264PropDetector, SeiBeforeASliceMarksKeyAndReportsTheLastType) {
    const Parsed p = parse(28, nal(0x06) + nal(0x41));
    EXPECT_TRUE(p.key);
    EXPECT_EQ(p.type, 1);
}

TEST(H264PropDetector, H265TypesSitInBitsOneToSix) {
    // VPS 32, SPS 33, PPS 34, IDR_W_RADL 19
    const Parsed idr = parse(174, nal(0x40) + nal(0x42) + nal(0x44) + nal(0x26));
    EXPECT_TRUE(idr.key);
    EXPECT_EQ(idr.type, 19);
    const Parsed trail = parse(174, nal(0x02));  // TRAIL_R, type 1
    EXPECT_FALSE(trail.key);
    EXPECT_EQ(trail.type, 1);
    EXPECT_TRUE(parse(174, nal(0x2A)).key);   // CRA, type 21
    EXPECT_TRUE(parse(174, nal(0x4E)).key);   // prefix SEI, type 39
    EXPECT_FALSE(parse(174, nal(0x50)).key);  // suffix SEI, type 40
}

TEST(H264PropDetector, AFrameWithoutStartCodeIsNotParsed) {
    const Bytes frame = {0x65, 0, 0, 0, 1, 0x65};
    const Parsed p = parse(28, frame, 42);
    EXPECT_FALSE(p.key);
    EXPECT_EQ(p.type, 42);
}

TEST(H264PropDetector, OnlyH264AndH265AreAccepted) {
    H264PropDetector detector;
    EXPECT_FALSE(detector.setCodec(0));
    EXPECT_FALSE(detector.setCodec(27));  // FFmpeg's own H.264 number is not the interface's
    EXPECT_FALSE(detector.setCodec(86018));
    EXPECT_EQ(detector.codec(), 0);
    EXPECT_TRUE(detector.setCodec(174));
    EXPECT_FALSE(detector.setCodec(1));
    EXPECT_EQ(detector.codec(), 174);
    const Parsed p = parse(0, nal(0x65), 7);
    EXPECT_FALSE(p.key);
    EXPECT_EQ(p.type, 7);
}

TEST(NaluJoiner, AWholeAccessUnitIsWrittenAtOnce) {
    auto joiner = NaluJoiner::create(28);
    const Bytes frame = nal(0x67) + nal(0x68) + nal(0x65);
    MediaFrame out;
    ASSERT_TRUE(joiner->join(frameOf(frame, 100, 1), 5, out));
    EXPECT_EQ(bytesOf(out), frame);
    EXPECT_EQ(out.pts, 100);
}

TEST(NaluJoiner, ParameterSetsAreJoinedToTheNextPicture) {
    auto joiner = NaluJoiner::create(28);
    const Bytes sps = nal(0x67);
    const Bytes pps = nal(0x68);
    const Bytes slice = nal(0x41, 30);
    MediaFrame out;
    EXPECT_FALSE(joiner->join(frameOf(sps, 10, 1), 7, out));
    EXPECT_FALSE(joiner->join(frameOf(pps, 11, 1), 8, out));
    ASSERT_TRUE(joiner->join(frameOf(slice, 12, 0), 1, out));
    EXPECT_EQ(bytesOf(out), sps + pps + slice);
    EXPECT_EQ(out.pts, 12);
    EXPECT_EQ(out.flags, 0);
    // The joined bytes stay valid through the next join; the following frame is alone.
    const Bytes joined = bytesOf(out);
    MediaFrame next;
    ASSERT_TRUE(joiner->join(frameOf(slice, 13), 1, next));
    EXPECT_EQ(bytesOf(out), joined);
    EXPECT_EQ(bytesOf(next), slice);
}

TEST(NaluJoiner, H265HoldsBackItsParameterSetsAndSei) {
    auto joiner = NaluJoiner::create(174);
    for (int type : {32, 33, 34, 39, 40}) {
        EXPECT_FALSE(joiner->isComplete(type)) << type;
    }
    EXPECT_TRUE(joiner->isComplete(19));
    EXPECT_TRUE(joiner->isComplete(7));  // an H.264 SPS number means nothing here
}

TEST(NaluJoiner, TheBaseJoinerPassesEverythingThrough) {
    auto joiner = NaluJoiner::create(0);
    const Bytes sps = nal(0x67);
    MediaFrame out;
    ASSERT_TRUE(joiner->join(frameOf(sps, 1), 7, out));
    EXPECT_EQ(bytesOf(out), sps);
}

TEST(NaluJoiner, LargeFramesGrowTheBuffers) {
    auto joiner = NaluJoiner::create(28);
    const Bytes sps = nal(0x67);
    const Bytes big = nal(0x65, 500000);
    MediaFrame out;
    joiner->join(frameOf(sps, 1), 7, out);
    ASSERT_TRUE(joiner->join(frameOf(big, 1), 5, out));
    EXPECT_EQ(bytesOf(out), sps + big);
}

TEST(AacHelper, SamplingIndexFallsBackTo16kHz) {
    EXPECT_EQ(AacHelper::samplingIndex(96000), 0);
    EXPECT_EQ(AacHelper::samplingIndex(48000), 3);
    EXPECT_EQ(AacHelper::samplingIndex(44100), 4);
    EXPECT_EQ(AacHelper::samplingIndex(7350), 12);
    EXPECT_EQ(AacHelper::samplingIndex(12345), 8);
    EXPECT_EQ(AacHelper::samplingIndex(0), 8);  // the empty table entries are no match
}

TEST(AacHelper, AdtsHeaderBytes) {
    uint8_t header[7] = {};
    ASSERT_TRUE(AacHelper::makeAdtsHeader(1, 48000, 2, 378, header, sizeof header));
    const uint8_t expected[7] = {0xFF, 0xF1, 0x4C, 0x80, 0x2F, 0x5F, 0xFC};
    EXPECT_EQ(Bytes(header, 7), Bytes(expected, 7));
}

TEST(AacHelper, AdtsHeaderCarriesLongFramesAndManyChannels) {
    uint8_t h[7] = {};
    ASSERT_TRUE(AacHelper::makeAdtsHeader(1, 44100, 6, 6000, h, sizeof h));
    const int length = ((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5);
    const int channels = ((h[2] & 1) << 2) | (h[3] >> 6);
    EXPECT_EQ(length, 6000);
    EXPECT_EQ(channels, 6);
    EXPECT_EQ((h[2] >> 2) & 0xF, 4);
}

TEST(AacHelper, AdtsHeaderNeedsSevenBytesOfRoom) {
    uint8_t h[7] = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_FALSE(AacHelper::makeAdtsHeader(1, 48000, 2, 100, h, 6));
    EXPECT_EQ(h[0], 1);
}

TEST(AacHelper, AdtsDetection) {
    const uint8_t adts[7] = {0xFF, 0xF1, 0x4C, 0x80, 0x2F, 0x5F, 0xFC};
    EXPECT_TRUE(AacHelper::hasAdtsHeader(adts, 7));
    EXPECT_FALSE(AacHelper::hasAdtsHeader(adts, 6));  // too short even though it begins FF F1
    const uint8_t raw[8] = {0x21, 0x10, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(AacHelper::hasAdtsHeader(raw, 8));
    const uint8_t almost[7] = {0xFF, 0xE1, 0, 0, 0, 0, 0};
    EXPECT_FALSE(AacHelper::hasAdtsHeader(almost, 7));
}
