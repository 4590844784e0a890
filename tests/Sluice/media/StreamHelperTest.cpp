// Key-frame detection, parameter-set joining and ADTS headers.
#include <gtest/gtest.h>

#include <string>

#include "AacHelper.h"
#include "H264PropDetector.h"
#include "NaluJoiner.h"
#include "sluice.h"

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

// Key and last NAL type of a frame; 3- and 4-byte start codes mixed.
TEST(H264PropDetector, KeyAndNalTypeOfAFrame) {
    const struct {
        int codec;
        Bytes frame;
        bool key;
        int type;
    } cases[] = {
        {SLUICE_CODEC_H264, nal(0x67) + nal(0x68, 4, false) + nal(0x65), true, 5},  // SPS, PPS, IDR
        {SLUICE_CODEC_H264, nal(0x41, 100, false), false, 1},
        {SLUICE_CODEC_H264, nal(0x06) + nal(0x41), true,
         1},  // SEI before a slice marks the frame key
        {SLUICE_CODEC_H264, nal(0x67), true, 7},
        // H.265 types sit in bits 1 to 6: VPS 32, SPS 33, PPS 34, IDR_W_RADL 19
        {SLUICE_CODEC_H265, nal(0x40) + nal(0x42) + nal(0x44) + nal(0x26), true, 19},
        {SLUICE_CODEC_H265, nal(0x02), false, 1},   // TRAIL_R
        {SLUICE_CODEC_H265, nal(0x2A), true, 21},   // CRA
        {SLUICE_CODEC_H265, nal(0x4E), true, 39},   // prefix SEI
        {SLUICE_CODEC_H265, nal(0x50), false, 40},  // suffix SEI
        // Not parsed: no leading start code, or a codec the detector refuses.
        {SLUICE_CODEC_H264, Bytes{0x65, 0, 0, 0, 1, 0x65}, false, 42},
        {0, nal(0x65), false, 42},
    };
    for (const auto& c : cases) {
        const Parsed p = parse(c.codec, c.frame, 42);
        EXPECT_EQ(p.key, c.key) << c.codec << " " << int(c.frame[4]);
        EXPECT_EQ(p.type, c.type) << c.codec << " " << int(c.frame[4]);
    }
}

// The first start code at or after `from`, before the last four bytes, past zeros that begin
// none; a long picture without zeros has none.
TEST(H264PropDetector, FindStartCode) {
    const Bytes plain(5000, 0xAB);
    const Bytes tail = Bytes{0xAB, 0xAB} + nal(0x41, 1);  // 4-byte code at 2, NAL ends at 7
    const struct {
        Bytes bytes;
        size_t from;
        long at;
    } cases[] = {
        {nal(0x65), 0, 0},
        {nal(0x65, 4, false), 0, 0},
        {nal(0x67) + nal(0x68, 4, false), 4, 9},
        {Bytes{0, 1, 0, 0, 2, 0, 0, 0, 2, 0, 0, 1, 0x41, 0xAB, 0xAB}, 0, 9},
        {plain + nal(0x41, 100) + plain, 0, 5000},
        {plain + nal(0x41, 100) + plain, 5002, -1},
        {plain + Bytes{0, 0, 1, 0x41, 0xAB}, 0, 5000},  // the last place one is looked for
        {plain + Bytes{0, 0, 1, 0x41}, 0, -1},          // within the last four bytes
        {plain, 0, -1},
        {tail, 0, 2},
        {tail, 7, -1},
        {Bytes{0, 0, 1, 0x41}, 0, -1},
        {Bytes{}, 0, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(av::findStartCode(c.bytes.data(), c.bytes.size(), c.from), c.at)
            << c.bytes.size() << " bytes from " << c.from;
    }
    EXPECT_EQ(av::findStartCode(nullptr, 10, 0), -1);
}

TEST(H264PropDetector, OnlyH264AndH265AreAccepted) {
    H264PropDetector detector;
    for (int codec : {SLUICE_CODEC_NONE, 27,
                      SLUICE_CODEC_AAC}) {  // 27 is FFmpeg's own H.264 number, not the interface's
        EXPECT_FALSE(detector.setCodec(codec)) << codec;
    }
    EXPECT_EQ(detector.codec(), 0);
    EXPECT_TRUE(detector.setCodec(SLUICE_CODEC_H265));
    EXPECT_FALSE(detector.setCodec(1));
    EXPECT_EQ(detector.codec(), SLUICE_CODEC_H265);
}

TEST(NaluJoiner, ParameterSetsAreJoinedToTheNextPicture) {
    auto joiner = NaluJoiner::create(SLUICE_CODEC_H264);
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
    // A whole access unit is written at once; frames beyond the reserved size grow the store.
    const Bytes big = nal(0x67) + nal(0x68) + nal(0x65, 500000);
    ASSERT_TRUE(joiner->join(frameOf(big, 14, 1), 5, out));
    EXPECT_EQ(bytesOf(out), big);
    EXPECT_FALSE(joiner->join(frameOf(sps, 15, 1), 7, out));
    ASSERT_TRUE(joiner->join(frameOf(big, 16, 1), 5, out));
    EXPECT_EQ(bytesOf(out), sps + big);
}

TEST(NaluJoiner, H265HoldsBackItsParameterSetsAndSeiAndOtherCodecsNothing) {
    auto joiner = NaluJoiner::create(SLUICE_CODEC_H265);
    for (int type : {32, 33, 34, 39, 40}) {
        EXPECT_FALSE(joiner->isComplete(type)) << type;
    }
    EXPECT_TRUE(joiner->isComplete(19));
    EXPECT_TRUE(joiner->isComplete(7));  // an H.264 SPS number means nothing here
    auto base = NaluJoiner::create(SLUICE_CODEC_NONE);
    const Bytes sps = nal(0x67);
    MediaFrame out;
    ASSERT_TRUE(base->join(frameOf(sps, 1), 7, out));
    EXPECT_EQ(bytesOf(out), sps);
}

TEST(AacHelper, SamplingIndexFallsBackTo16kHz) {
    const int rates[][2] = {{96000, 0}, {48000, 3}, {7350, 12}, {12345, 8}, {0, 8}};
    for (const auto& r : rates) {
        EXPECT_EQ(AacHelper::samplingIndex(r[0]), r[1]) << r[0];
    }
}

TEST(AacHelper, AdtsHeaders) {
    uint8_t h[7] = {};
    ASSERT_TRUE(AacHelper::makeAdtsHeader(1, 48000, 2, 378, h, sizeof h));
    const uint8_t expected[7] = {0xFF, 0xF1, 0x4C, 0x80, 0x2F, 0x5F, 0xFC};
    EXPECT_EQ(Bytes(h, 7), Bytes(expected, 7));
    EXPECT_TRUE(AacHelper::hasAdtsHeader(h, 7));
    EXPECT_FALSE(AacHelper::hasAdtsHeader(h, 6));  // too short even though it begins FF F1
    // Long frames and many channels use every bit of their fields.
    ASSERT_TRUE(AacHelper::makeAdtsHeader(1, 44100, 6, 6000, h, sizeof h));
    EXPECT_EQ(((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5), 6000);
    EXPECT_EQ(((h[2] & 1) << 2) | (h[3] >> 6), 6);
    EXPECT_EQ((h[2] >> 2) & 0xF, 4);
    h[1] = 0xE1;
    EXPECT_FALSE(AacHelper::hasAdtsHeader(h, 7));
    const uint8_t raw[8] = {0x21, 0x10, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(AacHelper::hasAdtsHeader(raw, 8));
    uint8_t untouched[7] = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_FALSE(AacHelper::makeAdtsHeader(1, 48000, 2, 100, untouched, 6));
    EXPECT_EQ(untouched[0], 1);
}
