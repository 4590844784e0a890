// The UDP and RTP casters on loopback, with receivers in the test; ffprobe reads what arrives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "Background.h"
#include "LogCapture.h"
#include "MediaClip.h"
#include "RtpTsMediaCaster.h"
#include "TestSupport.h"
#include "UdpReceiver.h"
#include "UdpTsMediaCaster.h"
#include "sluice.h"

using av::MediaCasterConfig;
using av::RtpTsMediaCaster;
using av::UdpTsMediaCaster;
using sluicetest::TestFrame;
using sluicetest::UdpReceiver;

namespace {

class ClipTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sluicetest::smallClipFrames(m_dir.path(), m_frames, m_info, error)) << error;
    }

    MediaCasterConfig config(bool audio = true) const {
        MediaCasterConfig c = sluicetest::clipConfig(m_info, audio);
        c.videoProfile = m_info.videoProfile;  // the open message shows it
        return c;
    }
    void writeAll(av::TsMediaCaster& caster) { sluicetest::writeFrames(caster, m_frames); }

    std::vector<TestFrame> videoFrames() const {
        std::vector<TestFrame> video;
        for (const TestFrame& f : m_frames) {
            if (f.type == 0) {
                video.push_back(f);
            }
        }
        return video;
    }

    void expectDemuxesAsTheClip(const std::string& ts) {
        testsupport::writeFile(m_dir.file("cast.ts"), ts);
        std::string out;
        ASSERT_EQ(testsupport::shell("ffprobe -v error -show_entries stream=codec_name,width,"
                                     "height,sample_rate,channels -show_entries packet=stream_"
                                     "index,pts -of compact '" +
                                         m_dir.file("cast.ts") + "' 2>&1",
                                     &out),
                  0)
            << out;
        const auto streams = sluicetest::ffprobeEntries(out, "stream");
        ASSERT_EQ(streams.size(), 2u) << out;
        EXPECT_EQ(streams[0].at("codec_name"), "h264");
        EXPECT_EQ(streams[0].at("width"), "320");
        EXPECT_EQ(streams[0].at("height"), "240");
        EXPECT_EQ(streams[1].at("codec_name"), "aac");
        EXPECT_EQ(streams[1].at("sample_rate"), "48000");
        EXPECT_EQ(streams[1].at("channels"), "2");

        // Video timestamps: the frames' microseconds at 90 kHz.
        const std::vector<TestFrame> video = videoFrames();
        std::vector<int64_t> pts;
        for (const auto& p : sluicetest::ffprobeEntries(out, "packet")) {
            if (p.at("stream_index") == "0") {
                pts.push_back(std::stoll(p.at("pts")));
            }
        }
        ASSERT_EQ(pts.size(), video.size());
        for (size_t i = 0; i < pts.size(); ++i) {
            EXPECT_EQ(pts[i] - pts[0], (video[i].ptsUs - video[0].ptsUs) * 9 / 100) << i;
        }
        // FFmpeg shifts the whole stream when a first timestamp is negative (the AAC
        // encoder's priming samples), so that nothing starts below 0.
        int64_t first = 0;
        for (const TestFrame& f : m_frames) {
            first = std::min<int64_t>(first, std::llround(static_cast<double>(f.ptsUs) * 0.09));
        }
        EXPECT_EQ(pts[0], video[0].ptsUs * 9 / 100 - first);
    }

    testsupport::TempDir m_dir;
    std::vector<TestFrame> m_frames;
    sluicetest::ClipInfo m_info;
};

void expectWholeTsPackets(const std::vector<std::string>& datagrams, size_t header = 0) {
    ASSERT_FALSE(datagrams.empty());
    for (const std::string& d : datagrams) {
        ASSERT_GT(d.size(), header);
        ASSERT_LE(d.size() - header, 1316u);
        ASSERT_EQ((d.size() - header) % 188, 0u);
        ASSERT_EQ(static_cast<uint8_t>(d[header]), 0x47);
    }
}

struct RtpHeader {
    int version, marker, payloadType;
    uint16_t sequence;
    uint32_t timestamp, ssrc;
};

RtpHeader rtpHeader(const std::string& d) {
    const auto* b = reinterpret_cast<const uint8_t*>(d.data());
    return RtpHeader{b[0] >> 6,
                     b[1] >> 7,
                     b[1] & 0x7F,
                     static_cast<uint16_t>(b[2] << 8 | b[3]),
                     static_cast<uint32_t>(b[4]) << 24 | b[5] << 16 | b[6] << 8 | b[7],
                     static_cast<uint32_t>(b[8]) << 24 | b[9] << 16 | b[10] << 8 | b[11]};
}

class SequenceRtpCaster : public RtpTsMediaCaster {
public:
    using RtpTsMediaCaster::setSequence;
};

}  // namespace

// Every target gets every datagram, whole TS packets that demux as the clip. A target that
// cannot be reached costs one message per datagram; duplicates are refused and a removed
// target gets nothing.
TEST_F(ClipTest, UdpSendsTheClipToEveryTarget) {
    sluicetest::LogCapture log;
    UdpReceiver first;
    UdpReceiver second;
    UdpReceiver removed;
    MediaCasterConfig c = config();
    c.videoConfig = std::string("\x00\x00\x00\x01\x67\xab", 6);
    UdpTsMediaCaster caster;
    ASSERT_EQ(caster.open("", 0, c), 0);
    EXPECT_NE(caster.localAddress().getPort(), 0);  // port 0 binds an ephemeral port
    // The open message shows id 0: sluice_open assigns the handle afterwards.
    EXPECT_EQ(log.count("UdpTsMediaCaster(0) open. ip: port:0\n"), 1u);
    EXPECT_EQ(log.count("video fmt. codec:28,width:320,height:240,profile:" +
                        std::to_string(c.videoProfile) + ",clock:0\n"),
              1u);
    EXPECT_EQ(log.count("video config. 0000000167ab\n"), 1u);
    EXPECT_EQ(
        log.count("audio fmt. codec: 86018, freq:48000, channels:2, profile:1, clock:1000000\n"),
        1u);
    caster.setId(7);
    EXPECT_TRUE(caster.addTarget("127.0.0.1", first.port()));
    EXPECT_FALSE(caster.addTarget("127.0.0.1", first.port()));
    EXPECT_TRUE(caster.addTarget("localhost", second.port()));
    EXPECT_TRUE(caster.addTarget("127.0.0.1", removed.port()));
    caster.removeTarget("127.0.0.1", removed.port());
    caster.removeTarget("127.0.0.1", 1);            // never added: nothing happens
    EXPECT_TRUE(caster.addTarget("127.0.0.1", 0));  // port 0 cannot be sent to
    EXPECT_EQ(caster.targetCount(), 3);
    const std::string removedText = "ip:127.0.0.1 port:" + std::to_string(removed.port()) + "\n";
    EXPECT_EQ(log.count("(7) addTarget. " + removedText), 1u);
    EXPECT_EQ(log.count("(7) removeTarget. " + removedText), 1u);
    writeAll(caster);
    caster.close();
    EXPECT_FALSE(caster.isOpen());
    for (UdpReceiver* r : {&first, &second, &removed}) {
        ASSERT_TRUE(r->waitQuiet());
    }
    const auto datagrams = first.datagrams();
    expectWholeTsPackets(datagrams);
    expectDemuxesAsTheClip(first.joined());
    EXPECT_EQ(second.datagrams(), datagrams);
    EXPECT_TRUE(removed.datagrams().empty());
    const auto failures = log.starting("(7) sendTo 127.0.0.1:0 failed. size:");
    ASSERT_EQ(failures.size(), datagrams.size());
    EXPECT_EQ(failures.front(), "(7) sendTo 127.0.0.1:0 failed. size:" +
                                    std::to_string(datagrams.front().size()) + "\n");
    caster.removeAllTarget();
    EXPECT_EQ(caster.targetCount(), 0);
}

TEST_F(ClipTest, OutOfOrderTimestampsAreLoggedAndStillWritten) {
    sluicetest::LogCapture log(3);
    UdpTsMediaCaster caster;
    ASSERT_EQ(caster.open("", 0, config()), 0);
    caster.setId(2);
    const std::string slice("\x00\x00\x00\x01\x41\x9a\x00\x10", 8);
    const auto* v = reinterpret_cast<const uint8_t*>(slice.data());
    const std::string aac(20, '\x01');
    const auto* a = reinterpret_cast<const uint8_t*>(aac.data());
    for (int64_t pts : {100, 200, 150, 160, 0, -5}) {
        caster.write(0, v, 8, pts, 0, 0);
    }
    for (int64_t pts : {300, 250}) {
        caster.write(1, a, 20, pts, 0, 0);
    }
    // A frame that is only a parameter set is held back, yet its timestamp counts.
    const std::string sps("\x00\x00\x00\x01\x67\x42\x00\x1e", 8);
    for (int64_t pts : {500, 400}) {
        EXPECT_TRUE(caster.write(0, reinterpret_cast<const uint8_t*>(sps.data()), 8, pts, 0, 0));
    }
    EXPECT_EQ(log.all(), (std::vector<std::string>{
                             "(2) video pts is invalid. last:200, now:150\n",
                             "(2) video pts is invalid. last:160, now:0\n",
                             "(2) autio pts is invalid. last:300, now:250\n",
                             "(2) video pts is invalid. last:500, now:400\n",
                         }));
}

TEST_F(ClipTest, NoTargetsMeansNothingSentAndNothingLogged) {
    sluicetest::LogCapture log(3);
    UdpTsMediaCaster caster;
    ASSERT_EQ(caster.open("", 0, config()), 0);
    writeAll(caster);
    caster.close();
    EXPECT_TRUE(log.all().empty());
}

// RTP logs without the caster's id, names the packet size in send failures and does not
// check audio timestamps.
TEST_F(ClipTest, RtpPacketsCarryTheHeaderAndTheStream) {
    sluicetest::LogCapture log;
    UdpReceiver receiver;
    RtpTsMediaCaster caster;
    ASSERT_EQ(caster.open("", 0, config()), 0);
    caster.setId(3);
    caster.addTarget("127.0.0.1", 0);  // port 0 cannot be sent to
    caster.addTarget("127.0.0.1", receiver.port());
    writeAll(caster);
    const std::string aac(20, '\x01');
    for (int64_t pts : {5000000, 4900000}) {  // after the clip, then going back
        caster.write(1, reinterpret_cast<const uint8_t*>(aac.data()), 20, pts, 0, 0);
    }
    caster.close();
    ASSERT_TRUE(receiver.waitQuiet());
    const auto datagrams = receiver.datagrams();
    expectWholeTsPackets(datagrams, 12);
    uint32_t lastTimestamp = 0;
    std::vector<std::string> failures;
    for (size_t i = 0; i < datagrams.size(); ++i) {
        const RtpHeader h = rtpHeader(datagrams[i]);
        ASSERT_EQ(h.version, 2);
        ASSERT_EQ(h.marker, 0);
        ASSERT_EQ(h.payloadType, 33);
        ASSERT_EQ(h.sequence, i);
        ASSERT_EQ(h.ssrc, 16u);
        ASSERT_GE(h.timestamp, lastTimestamp);
        lastTimestamp = h.timestamp;
        failures.push_back(
            "sendTo 127.0.0.1:0 failed. size:" + std::to_string(datagrams[i].size()) + "\n");
    }
    EXPECT_EQ(rtpHeader(datagrams[0]).timestamp, 3600u);
    EXPECT_EQ(datagrams[0].size(), 1328u);
    expectDemuxesAsTheClip(receiver.joined(12));
    EXPECT_EQ(log.count("open. ip: port:0\n"), 1u);
    EXPECT_EQ(log.count("addTarget. ip:127.0.0.1 port:0\n"), 1u);
    EXPECT_EQ(log.starting("sendTo 127.0.0.1:0 failed."), failures);
    EXPECT_TRUE(log.starting("(3) autio").empty());
}

TEST_F(ClipTest, RtpTimestampsStartAt3600AndRunAt90kHz) {
    UdpReceiver receiver;
    RtpTsMediaCaster caster;
    ASSERT_EQ(caster.open("", 0, config(false)), 0);
    caster.addTarget("127.0.0.1", receiver.port());
    const std::vector<TestFrame> video = videoFrames();
    ASSERT_GT(video[0].bytes.size(), 3 * 1316u);  // the key frame fills several packets
    const int64_t start = 777777;                 // the frames' own clock does not matter
    caster.write(0, reinterpret_cast<const uint8_t*>(video[0].bytes.data()),
                 static_cast<int>(video[0].bytes.size()), start, 0, 1);
    caster.write(0, reinterpret_cast<const uint8_t*>(video[1].bytes.data()),
                 static_cast<int>(video[1].bytes.size()), start + 500000, 0, 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return caster.sendQueueEmpty(); }));
    ASSERT_TRUE(receiver.waitQuiet());
    const auto datagrams = receiver.datagrams();
    ASSERT_GE(datagrams.size(), 3u);
    EXPECT_EQ(rtpHeader(datagrams[0]).sequence, 0);
    EXPECT_EQ(rtpHeader(datagrams[0]).timestamp, 3600u);
    EXPECT_EQ(rtpHeader(datagrams[1]).sequence, 1);
    EXPECT_EQ(rtpHeader(datagrams[1]).timestamp, 3600u);
    EXPECT_EQ(rtpHeader(datagrams.back()).timestamp, 48600u);
    std::set<uint32_t> stamps;
    for (const auto& d : datagrams) {
        stamps.insert(rtpHeader(d).timestamp);
    }
    EXPECT_EQ(stamps, (std::set<uint32_t>{3600, 48600}));
}

TEST_F(ClipTest, RtpSequenceWrapsAndEveryOpenStartsOver) {
    UdpReceiver receiver;
    SequenceRtpCaster caster;
    ASSERT_EQ(caster.open("", 0, config()), 0);
    caster.addTarget("127.0.0.1", receiver.port());
    caster.setSequence(65534);
    writeAll(caster);
    ASSERT_TRUE(testsupport::waitFor([&] { return caster.sendQueueEmpty(); }));
    ASSERT_TRUE(receiver.waitQuiet());
    auto datagrams = receiver.datagrams();
    ASSERT_GE(datagrams.size(), 4u);
    EXPECT_EQ(rtpHeader(datagrams[0]).sequence, 65534);
    EXPECT_EQ(rtpHeader(datagrams[1]).sequence, 65535);
    EXPECT_EQ(rtpHeader(datagrams[2]).sequence, 0);
    EXPECT_EQ(rtpHeader(datagrams[3]).sequence, 1);

    // A new open: sequence 0 and timestamp 3600 again; the targets stay.
    const size_t before = datagrams.size();
    ASSERT_EQ(caster.open("", 0, config()), 0);
    writeAll(caster);
    caster.close();
    ASSERT_TRUE(receiver.waitQuiet());
    datagrams = receiver.datagrams();
    ASSERT_GT(datagrams.size(), before);
    // The previous stream's trailer comes first when open closes it.
    size_t restart = before;
    while (restart < datagrams.size() && rtpHeader(datagrams[restart]).sequence != 0) {
        ++restart;
    }
    ASSERT_LT(restart, datagrams.size());
    EXPECT_EQ(rtpHeader(datagrams[restart]).timestamp, 3600u);
    EXPECT_EQ(rtpHeader(datagrams[restart]).ssrc, 16u);
}
