// The RTMP push caster against servers we did not write, on loopback: nginx with its RTMP
// module (receiving, restarting, refusing a publish), stunnel for RTMPS, and a server that
// never reads. Also the URL rules and the queue's dropping.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Background.h"
#include "LogCapture.h"
#include "MediaClip.h"
#include "RtmpFrameQueue.h"
#include "RtmpServers.h"
#include "RtmpTsMediaCaster.h"
#include "RtmpUrl.h"
#include "TestSupport.h"
#include "TsApplication.h"

using namespace std::chrono_literals;

namespace {

using av::DestinationStats;
using av::RtmpTsMediaCaster;
using sluicetest::TestFrame;

struct Clip {
    testsupport::TempDir dir;
    std::vector<TestFrame> frames;
    sluicetest::ClipInfo info;
    bool ok = false;
    Clip() {
        std::string error;
        ok = sluicetest::smallClipFrames(dir.path(), frames, info, error);
    }
};

const Clip& clip() {
    static Clip c;
    return c;
}

/// Writes the clip over and over at its own pace, timestamps running on, as an encoder does.
class LiveWriter {
public:
    explicit LiveWriter(av::TsMediaCaster& caster) {
        m_thread = std::thread([this, &caster] {
            const auto start = std::chrono::steady_clock::now();
            for (int64_t loop = 0; !m_stop; ++loop) {
                for (const TestFrame& f : clip().frames) {
                    const int64_t at = f.ptsUs + loop * 1000000;
                    std::this_thread::sleep_until(start + std::chrono::microseconds(at));
                    if (m_stop) {
                        return;
                    }
                    caster.write(f.type, reinterpret_cast<const uint8_t*>(f.bytes.data()),
                                 static_cast<int>(f.bytes.size()), at, 0, f.key ? 1 : 0);
                }
            }
        });
    }
    ~LiveWriter() {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

DestinationStats only(RtmpTsMediaCaster& caster) {
    const std::vector<DestinationStats> records = caster.destinationStats();
    return records.size() == 1 ? records.front() : DestinationStats();
}

bool reaches(RtmpTsMediaCaster& caster, int state, std::chrono::milliseconds timeout = 20s) {
    return testsupport::waitFor([&] { return only(caster).state == state; }, timeout, 20ms);
}

/// ffprobe's codec names of a live RTMP stream ("h264,aac").
std::string probeCodecs(const std::string& url) {
    std::string output;
    testsupport::shell(
        "timeout 30 ffprobe -v error -rw_timeout 15000000 -show_entries "
        "stream=codec_name -of csv=p=0 '" +
            url + "' 2>&1 | sort | paste -sd,",
        &output);
    while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) {
        output.pop_back();
    }
    return output;
}

std::unique_ptr<RtmpTsMediaCaster> openCaster(bool audio = true) {
    auto caster = std::make_unique<RtmpTsMediaCaster>();
    EXPECT_EQ(caster->open("", 0, sluicetest::clipConfig(clip().info, audio)), 0);
    return caster;
}

TEST(RtmpUrl, AcceptsRtmpAndRtmpsAndHidesUserInformation) {
    struct Case {
        const char* text;
        bool ok;
        const char* shown;
        bool secure;
    };
    const Case cases[] = {
        {"rtmp://host/live/s", true, "rtmp://host/live/s", false},
        {"RTMPS://u:p@host:443/app/key", true, "RTMPS://host:443/app/key", true},
        {"rtmp://us@r:p@ss@10.0.0.1:1935/live/x", true, "rtmp://10.0.0.1:1935/live/x", false},
        {"rtmp://host", false, "", false},
        {"rtmp://host/", false, "", false},
        {"rtmp:///live/s", false, "", false},
        {"rtmp://u:p@/live/s", false, "", false},
        {"http://host/live/s", false, "", false},
        {"rtmp://host/live/a b", false, "", false},
        {"", false, "", false},
    };
    for (const Case& c : cases) {
        av::RtmpUrl url;
        EXPECT_EQ(url.parse(c.text), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(url.shown(), c.shown) << c.text;
            EXPECT_EQ(url.secure(), c.secure) << c.text;
        }
    }
    EXPECT_EQ(av::RtmpUrl::stripUserInfo("tls://a:secret@h:1/x and rtmp://b@h/y, no url"),
              "tls://h:1/x and rtmp://h/y, no url");
}

TEST(RtmpFrameQueue, DropsOldestUpToTheNextKeyFrameAndCountsEveryFrame) {
    auto frame = [](bool key, int64_t ms) {
        auto f = std::make_shared<av::RtmpFrame>();
        f->key = key;
        f->timeMs = ms;
        f->bytes.resize(10);
        return f;
    };
    av::RtmpFrameQueue queue(4, 1000);
    queue.push(frame(false, 0));  // before the first key frame: dropped
    EXPECT_EQ(queue.dropped(), 1u);
    queue.push(frame(true, 1));
    queue.push(frame(false, 2));
    queue.push(frame(false, 3));
    queue.push(frame(true, 4));
    queue.push(frame(false, 5));  // full: 1, 2, 3 go, 4 is the next key frame
    EXPECT_EQ(queue.dropped(), 4u);
    EXPECT_EQ(queue.size(), 2u);
    EXPECT_EQ(queue.pop(0)->timeMs, 4);
    EXPECT_EQ(queue.pop(0)->timeMs, 5);
    queue.push(frame(false, 5));  // a queue the sender has emptied keeps the next frame
    EXPECT_EQ(queue.size(), 1u);
    queue.push(frame(false, 6));
    queue.push(frame(false, 7));
    queue.push(frame(false, 8));
    queue.push(frame(false, 9));  // full without a key frame: 5 to 8 go, and 9 too
    EXPECT_EQ(queue.size(), 0u);
    queue.push(frame(false, 10));  // still waiting for a key frame
    EXPECT_EQ(queue.dropped(), 10u);
    queue.push(frame(true, 11));
    queue.push(frame(false, 12));
    queue.push(frame(true, 13));
    queue.push(frame(false, 14));
    queue.skipToNewestKey();  // a new connection starts at 13
    EXPECT_EQ(queue.pop(0)->timeMs, 13);
    EXPECT_EQ(queue.dropped(), 12u);
}

// The sound an encoder starts a little before its first picture reaches the server ahead of
// that picture; older audio, and pictures, before it do not.
TEST(RtmpFrameQueue, AudioJustBeforeTheFirstKeyPictureLeadsIt) {
    auto frame = [](bool video, bool key, int64_t ms) {
        auto f = std::make_shared<av::RtmpFrame>();
        f->video = video;
        f->key = key;
        f->timeMs = ms;
        f->bytes.resize(10);
        return f;
    };
    av::RtmpFrameQueue queue;
    queue.push(frame(false, false, 0));     // too old by the time the picture comes
    queue.push(frame(true, false, 500));    // a picture before the first key one
    queue.push(frame(false, false, 1480));  // the audio of the last second before it
    queue.push(frame(false, false, 1501));
    queue.push(frame(true, true, 1502));
    queue.push(frame(false, false, 1522));
    EXPECT_TRUE(queue.waitForKey(0));
    queue.skipToNewestKey();  // as a connection starts
    std::vector<int64_t> sent;
    while (const av::RtmpFramePtr f = queue.pop(0)) {
        sent.push_back(f->timeMs);
    }
    EXPECT_EQ(sent, std::vector<int64_t>({1480, 1501, 1502, 1522}));
    EXPECT_EQ(queue.dropped(), 2u);
}

TEST(RtmpCaster, H265IsRefusedWithAClearStateAndOneLogLine) {
    sluicetest::LogCapture log;
    av::MediaCasterConfig config;
    config.videoCodec = SLUICE_CODEC_H265;
    RtmpTsMediaCaster caster;
    ASSERT_EQ(caster.open("", 0, config), 0);
    ASSERT_EQ(caster.setOption("url", "rtmp://127.0.0.1:1/live/s"), 0);
    const uint8_t idr[] = {0, 0, 0, 1, 0x26, 0x01, 0xaf};
    EXPECT_FALSE(caster.write(0, idr, sizeof idr, 0, 0, 1));
    const DestinationStats record = only(caster);
    EXPECT_EQ(record.state, SLUICE_STATE_FAILED);
    EXPECT_EQ(record.stateText, "RTMP needs H.264");
    EXPECT_EQ(caster.outputStatus().state, SLUICE_STATE_FAILED);
    size_t lines = 0;
    for (const std::string& line : log.all()) {
        lines += line.find("RTMP needs H.264") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(lines, 1u);
    EXPECT_EQ(caster.setOption("tls_verify", "2"), EINVAL);
    EXPECT_EQ(caster.setOption("url", "udp://x/y"), EINVAL);
}

TEST(RtmpCaster, NginxGetsH264AndAacAndTheCasterReconnectsAfterARestart) {
    ASSERT_TRUE(clip().ok);
    sluicetest::NginxRtmp nginx;
    ASSERT_TRUE(nginx.start());
    auto caster = openCaster();
    ASSERT_EQ(caster->setOption("url", nginx.url()), 0);
    LiveWriter writer(*caster);
    ASSERT_TRUE(reaches(*caster, SLUICE_STATE_PUBLISHING)) << only(*caster).stateText;
    EXPECT_EQ(probeCodecs(nginx.url()), "aac,h264");
    DestinationStats before = only(*caster);
    EXPECT_EQ(before.connects, 1u);
    EXPECT_EQ(before.reconnects, 0u);
    EXPECT_GT(before.frames, 0u);
    EXPECT_GT(before.counters.bytes, 0u);
    EXPECT_GT(before.lastSuccessUs, 0);
    EXPECT_EQ(before.address, nginx.url());

    nginx.stop();
    ASSERT_TRUE(reaches(*caster, SLUICE_STATE_RETRYING));
    EXPECT_FALSE(only(*caster).stateText.empty());
    std::this_thread::sleep_for(10s);  // the outage the server has: not a wait for the caster
    ASSERT_TRUE(nginx.start());
    // The back-off has reached 8 or 16 s by now.
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            const DestinationStats r = only(*caster);
            return r.state == SLUICE_STATE_PUBLISHING && r.reconnects >= 1;
        },
        45s, 50ms));
    EXPECT_EQ(probeCodecs(nginx.url()), "aac,h264");
    const DestinationStats after = only(*caster);
    EXPECT_GE(after.connects, 2u);
    EXPECT_GT(after.frames, before.frames);
    EXPECT_GE(after.lastSuccessUs, before.lastSuccessUs);
}

TEST(RtmpCaster, RefusedPublishIsRetriedWithTheReason) {
    ASSERT_TRUE(clip().ok);
    sluicetest::HttpAnswerer refuse(403);
    sluicetest::NginxRtmp nginx("http://127.0.0.1:" + std::to_string(refuse.port()) + "/publish");
    ASSERT_TRUE(nginx.start());
    auto caster = openCaster();
    ASSERT_EQ(caster->setOption("url", nginx.url()), 0);
    LiveWriter writer(*caster);
    ASSERT_TRUE(testsupport::waitFor([&] { return refuse.requests() >= 2; }, 20s));
    const DestinationStats record = only(*caster);
    EXPECT_NE(record.state, SLUICE_STATE_PUBLISHING);
    EXPECT_EQ(record.connects, 0u);
    ASSERT_TRUE(reaches(*caster, SLUICE_STATE_RETRYING));
    EXPECT_NE(only(*caster).stateText.find("publish"), std::string::npos)
        << only(*caster).stateText;
}

TEST(RtmpCaster, RtmpsTrustsTheNamedCaOnlyUnlessVerificationIsOffAndNeverShowsTheSecret) {
    ASSERT_TRUE(clip().ok);
    testsupport::TempDir ours;
    testsupport::TempDir other;
    std::string error;
    ASSERT_TRUE(sluicetest::makeTestCa(ours.path(), "ours", error)) << error;
    ASSERT_TRUE(sluicetest::makeTestCa(other.path(), "other", error)) << error;
    sluicetest::NginxRtmp nginx;
    ASSERT_TRUE(nginx.start());
    sluicetest::TlsFront tls(nginx.port(), ours.file("server.pem"), ours.file("server.key"));
    ASSERT_TRUE(tls.start());
    const std::string secret = "Pa55-secret";
    const std::string url =
        "rtmps://pushuser:" + secret + "@127.0.0.1:" + std::to_string(tls.port()) + "/live/stream";

    struct Case {
        std::string caFile;
        const char* verify;
        int state;
    };
    const Case cases[] = {
        {ours.file("ca.pem"), "1", SLUICE_STATE_PUBLISHING},
        {other.file("ca.pem"), "1", SLUICE_STATE_RETRYING},
        {other.file("ca.pem"), "0", SLUICE_STATE_PUBLISHING},
    };
    av::TsApplication::instance().init();  // FFmpeg's own messages go to the log too
    sluicetest::LogCapture log;
    for (const Case& c : cases) {
        auto caster = openCaster();
        ASSERT_EQ(caster->setOption("ca_file", c.caFile), 0);
        ASSERT_EQ(caster->setOption("tls_verify", c.verify), 0);
        ASSERT_EQ(caster->setOption("url", url), 0);
        LiveWriter writer(*caster);
        EXPECT_TRUE(reaches(*caster, c.state))
            << c.caFile << " " << c.verify << ": " << only(*caster).stateText;
        if (c.state == SLUICE_STATE_PUBLISHING) {
            EXPECT_EQ(probeCodecs(nginx.url()), "aac,h264");
        }
        const DestinationStats record = only(*caster);
        EXPECT_EQ(record.address.find(secret), std::string::npos);
        EXPECT_EQ(record.address.find("pushuser"), std::string::npos);
        EXPECT_EQ(record.stateText.find(secret), std::string::npos);
        EXPECT_EQ(caster->outputStatus().stateText.find(secret), std::string::npos);
    }
    for (const std::string& line : log.all()) {
        EXPECT_EQ(line.find(secret), std::string::npos) << line;
    }
    EXPECT_EQ(nginx.errorLog().find(secret), std::string::npos);
}

TEST(RtmpCaster, WriterNeverWaitsForAServerThatDoesNotRead) {
    ASSERT_TRUE(clip().ok);
    sluicetest::SilentServer silent;
    auto caster = openCaster();
    ASSERT_EQ(caster->setOption(
                  "url", "rtmp://127.0.0.1:" + std::to_string(silent.port()) + "/live/stream"),
              0);
    // Far more than the queue holds, as fast as the writer can: every call returns, and what
    // could not be queued is counted.
    for (int64_t loop = 0; loop < 120; ++loop) {
        sluicetest::writeFrames(*caster, clip().frames, loop * 1000000);
    }
    EXPECT_TRUE(testsupport::waitFor([&] { return silent.accepted() >= 1; }));
    const DestinationStats record = only(*caster);
    EXPECT_GT(record.framesDropped, 0u);
    EXPECT_EQ(record.frames, 0u);
    EXPECT_EQ(record.state, SLUICE_STATE_CONNECTING);
    caster->close();  // ends the hanging handshake at once
    EXPECT_TRUE(caster->destinationStats().empty());
}

}  // namespace
