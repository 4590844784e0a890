// RTP sequence numbers when a target joins a running cast: the caster numbers its packets
// once (0 after open, one more per packet) and every target gets the same packets, so a
// target added later sees the caster's numbers, without a gap, from where it joined.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "MediaClip.h"
#include "RtpTsMediaCaster.h"
#include "TestSupport.h"
#include "UdpReceiver.h"
#include "sluice.h"

namespace {

using av::RtpTsMediaCaster;
using sluicetest::TestFrame;
using sluicetest::UdpReceiver;

uint16_t sequenceOf(const std::string& datagram) {
    return static_cast<uint16_t>(static_cast<uint8_t>(datagram[2]) << 8 |
                                 static_cast<uint8_t>(datagram[3]));
}

// Whether the datagrams' sequence numbers run first, first + 1, ... (modulo 2^16).
bool contiguousFrom(const std::vector<std::string>& datagrams, uint16_t first) {
    for (size_t i = 0; i < datagrams.size(); ++i) {
        if (datagrams[i].size() < RtpTsMediaCaster::kHeaderSize ||
            sequenceOf(datagrams[i]) != static_cast<uint16_t>(first + i)) {
            return false;
        }
    }
    return true;
}

class RtpLateTarget : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sluicetest::smallClipFrames(m_dir.path(), m_frames, m_info, error)) << error;
    }

    av::MediaCasterConfig config() const {
        av::MediaCasterConfig c;
        c.videoCodec = SLUICE_CODEC_H264;
        c.width = m_info.width;
        c.height = m_info.height;
        c.audioCodec = SLUICE_CODEC_AAC;
        c.sampleRate = m_info.sampleRate;
        c.channels = m_info.channels;
        c.audioProfile = m_info.audioProfile;
        c.audioConfig = m_info.audioConfig;
        c.audioClock = 1000000;
        return c;
    }

    // The clip, shifted by round seconds so that timestamps keep rising.
    void writeClip(RtpTsMediaCaster& caster, int round) {
        for (const TestFrame& f : m_frames) {
            caster.write(f.type, reinterpret_cast<const uint8_t*>(f.bytes.data()),
                         static_cast<int>(f.bytes.size()), f.ptsUs + round * 2'000'000LL, 0,
                         f.key ? 1 : 0);
        }
    }

    testsupport::TempDir m_dir;
    std::vector<TestFrame> m_frames;
    sluicetest::ClipInfo m_info;
};

TEST_F(RtpLateTarget, EachTargetSeesTheCastersNumbersWithoutAGapFromWhereItJoined) {
    UdpReceiver early;
    UdpReceiver late;
    RtpTsMediaCaster caster;
    ASSERT_EQ(caster.open("", 0, config()), 0);
    ASSERT_TRUE(caster.addTarget("127.0.0.1", early.port()));
    writeClip(caster, 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return caster.sendQueueEmpty(); }));
    ASSERT_TRUE(early.waitQuiet());
    const size_t beforeJoin = early.datagrams().size();
    ASSERT_GT(beforeJoin, 0u);

    ASSERT_TRUE(caster.addTarget("127.0.0.1", late.port()));
    writeClip(caster, 1);
    caster.close();  // sends what is queued, the multiplexer's trailer included
    ASSERT_TRUE(early.waitQuiet());
    ASSERT_TRUE(late.waitQuiet());

    const std::vector<std::string> first = early.datagrams();
    const std::vector<std::string> second = late.datagrams();
    ASSERT_GT(second.size(), 0u);
    EXPECT_TRUE(contiguousFrom(first, 0));
    // The later target starts with the caster's next number and gets the very same packets
    // (header included) as the first from then on.
    ASSERT_EQ(first.size(), beforeJoin + second.size());
    EXPECT_EQ(sequenceOf(second.front()), static_cast<uint16_t>(beforeJoin));
    EXPECT_TRUE(contiguousFrom(second, static_cast<uint16_t>(beforeJoin)));
    EXPECT_TRUE(std::equal(second.begin(), second.end(), first.begin() + beforeJoin));
}

}  // namespace
