// The SRT caster against receivers on loopback: our own libsrt receivers, ffprobe and
// srt-live-transmit (other implementations), options, links that end and come back, and the
// log that must never show the passphrase.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Background.h"
#include "ChildProcess.h"
#include "LogCapture.h"
#include "MediaClip.h"
#include "SrtLink.h"
#include "SrtReceiver.h"
#include "SrtTsMediaCaster.h"
#include "TestSupport.h"
#include "TsCheckReport.h"
#include "sluice.h"

using av::SrtTsMediaCaster;
using sluicetest::SrtReceiver;
using testsupport::waitFor;

namespace {

const std::string kPassphrase = "s3cret-Passphrase";

long residentKib() {
    const std::string status = testsupport::readFile("/proc/self/status");
    const size_t at = status.find("VmRSS:");
    return at == std::string::npos ? 0 : std::stol(status.substr(at + 6));
}

// What the process writes to standard error while it lives.
class StderrCapture {
public:
    StderrCapture() : m_file(std::tmpfile()), m_saved(::dup(2)) {
        std::fflush(stderr);
        ::dup2(fileno(m_file), 2);
    }
    ~StderrCapture() {
        restore();
        std::fclose(m_file);
    }
    std::string text() {
        restore();
        std::string all;
        std::rewind(m_file);
        char buffer[512];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0;) {
            all.append(buffer, n);
        }
        return all;
    }

private:
    void restore() {
        if (m_saved >= 0) {
            std::fflush(stderr);
            ::dup2(m_saved, 2);
            ::close(m_saved);
            m_saved = -1;
        }
    }
    std::FILE* m_file;
    int m_saved;
};

class SrtCaster : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new testsupport::TempDir;
        std::string error;
        ASSERT_TRUE(sluicetest::makeClip(s_dir->path(), 2, 320, 240, error)) << error;
        s_frames = new std::vector<sluicetest::TestFrame>;
        ASSERT_TRUE(sluicetest::readFrames(s_dir->file("clip.mp4"), *s_frames, s_info, error))
            << error;
        // A repetition starts after the clip's last frame (audio runs past the 2 s).
        for (const auto& f : *s_frames) {
            s_clipUs = std::max(s_clipUs, f.ptsUs + 40000);
        }
    }
    static void TearDownTestSuite() {
        delete s_frames;
        delete s_dir;
    }
    void TearDown() override { stopFeeding(); }

    static av::MediaCasterConfig config() { return sluicetest::clipConfig(s_info); }
    /// Opens a caster, listening on an ephemeral port when asked to.
    std::shared_ptr<SrtTsMediaCaster> open(bool listen) {
        auto caster = std::make_shared<SrtTsMediaCaster>();
        EXPECT_EQ(caster->open("", 0, config()), 0);
        if (listen) {
            EXPECT_EQ(caster->setOption("listen", "0"), 0);
        }
        return caster;
    }
    /// Writes the clip once, as fast as the caster takes it (timestamps continue across calls).
    void writeClip(SrtTsMediaCaster& caster) {
        sluicetest::writeFrames(caster, *s_frames, m_offsetUs);
        m_offsetUs += s_clipUs;
    }
    /// Writes the clip again and again at about real time on a thread of its own.
    void feed(std::shared_ptr<SrtTsMediaCaster> caster) {
        m_feeding = true;
        m_feeder = std::thread([this, caster] {
            int64_t offset = 0;
            const auto start = std::chrono::steady_clock::now();
            while (m_feeding) {
                for (const auto& f : *s_frames) {
                    if (!m_feeding) {
                        break;
                    }
                    std::this_thread::sleep_until(start +
                                                  std::chrono::microseconds(f.ptsUs + offset));
                    caster->write(f.type, reinterpret_cast<const uint8_t*>(f.bytes.data()),
                                  static_cast<int>(f.bytes.size()), f.ptsUs + offset, 0,
                                  f.key ? 1 : 0);
                }
                offset += s_clipUs;
            }
        });
    }
    void stopFeeding() {
        m_feeding = false;
        if (m_feeder.joinable()) {
            m_feeder.join();
        }
    }
    /// ts-check's exit status for bytes (0: no priority-1 error, continuity included).
    static int tsCheck(const std::string& bytes, std::string& report) {
        testsupport::writeFile(s_dir->file("received.ts"), bytes);
        return testsupport::shell("'" + testsupport::programPath("ts-check") +
                                      "' --json --pid-timeout 1000 '" + s_dir->file("received.ts") +
                                      "'",
                                  &report);
    }

    static testsupport::TempDir* s_dir;
    static std::vector<sluicetest::TestFrame>* s_frames;
    static sluicetest::ClipInfo s_info;
    static int64_t s_clipUs;
    int64_t m_offsetUs = 0;
    std::atomic<bool> m_feeding{false};
    std::thread m_feeder;
};

testsupport::TempDir* SrtCaster::s_dir = nullptr;
std::vector<sluicetest::TestFrame>* SrtCaster::s_frames = nullptr;
sluicetest::ClipInfo SrtCaster::s_info;
int64_t SrtCaster::s_clipUs = 0;

TEST_F(SrtCaster, OptionsAreValidatedAndABadOneChangesNothing) {
    SrtTsMediaCaster caster;
    struct Case {
        const char* name;
        std::string value;
        int result;
    };
    const Case cases[] = {
        {"latency", "20", 0},
        {"latency", "8000", 0},
        {"latency", "19", EINVAL},
        {"latency", "8001", EINVAL},
        {"latency", "", EINVAL},
        {"latency", " 120", EINVAL},
        {"latency", "120ms", EINVAL},
        {"latency", "-120", EINVAL},
        {"passphrase", "", 0},
        {"passphrase", std::string(10, 'p'), 0},
        {"passphrase", std::string(79, 'p'), 0},
        {"passphrase", std::string(9, 'p'), EINVAL},
        {"passphrase", std::string(80, 'p'), EINVAL},
        {"pbkeylen", "0", 0},
        {"pbkeylen", "16", 0},
        {"pbkeylen", "24", 0},
        {"pbkeylen", "32", 0},
        {"pbkeylen", "8", EINVAL},
        {"pbkeylen", "x", EINVAL},
        {"streamid", "", 0},
        {"streamid", std::string(512, 's'), 0},
        {"streamid", std::string(513, 's'), EINVAL},
        {"maxbw", "-1", 0},
        {"maxbw", "0", 0},
        {"maxbw", "1250000", 0},
        {"maxbw", "-2", EINVAL},
        {"maxbw", "1e6", EINVAL},
        {"maxbw", "99999999999999999999", EINVAL},
        {"maxclients", "1", 0},
        {"maxclients", "256", 0},
        {"maxclients", "0", EINVAL},
        {"maxclients", "257", EINVAL},
        {"maxperaddress", "256", 0},
        {"maxperaddress", "0", EINVAL},
        {"maxperaddress", "x", EINVAL},
        {"Latency", "120", EINVAL},
        {"rcvlatency", "120", EINVAL},
        {"", "1", EINVAL},
    };
    for (const Case& c : cases) {
        const av::SrtOptions before = caster.options();
        EXPECT_EQ(caster.setOption(c.name, c.value), c.result) << c.name << "=" << c.value;
        const av::SrtOptions after = caster.options();
        if (c.result != 0) {
            EXPECT_EQ(after.latencyMs, before.latencyMs) << c.name << "=" << c.value;
            EXPECT_EQ(after.passphrase, before.passphrase) << c.name << "=" << c.value;
            EXPECT_EQ(after.keyLength, before.keyLength) << c.name << "=" << c.value;
            EXPECT_EQ(after.streamId, before.streamId) << c.name << "=" << c.value;
            EXPECT_EQ(after.maxBandwidth, before.maxBandwidth) << c.name << "=" << c.value;
            EXPECT_EQ(after.maxCallers, before.maxCallers) << c.name << "=" << c.value;
            EXPECT_EQ(after.maxCallersPerAddress, before.maxCallersPerAddress)
                << c.name << "=" << c.value;
        }
    }
    const av::SrtOptions last = caster.options();
    EXPECT_EQ(last.latencyMs, 8000);
    EXPECT_EQ(last.passphrase, std::string(79, 'p'));
    EXPECT_EQ(last.keyLength, 32);
    EXPECT_EQ(last.streamId, std::string(512, 's'));
    EXPECT_EQ(last.maxBandwidth, 1250000);
    EXPECT_EQ(last.maxCallers, 256);
    EXPECT_EQ(last.maxCallersPerAddress, 256);
    EXPECT_EQ(av::SrtOptions().maxCallers, 32);
    EXPECT_EQ(av::SrtOptions().maxCallersPerAddress, 8);
}

// What "maxbw" makes of libsrt's pacing on a socket. Not set: a variable stream is capped at
// 200 Mbit/s (a key frame never leaves at line rate), a constant-rate one at its mux rate plus
// libsrt's 25 % (the rate given as SRTO_INPUTBW). Set, the value is libsrt's as given; 0 lets
// libsrt measure the input rate (or take the mux rate).
TEST_F(SrtCaster, MaxbwSetsLibsrtsPacing) {
    struct Case {
        const char* maxbw;  // nullptr: not set
        int64_t muxBytes;   // a constant-rate stream's bytes/s; 0: variable
        int64_t maxbwOnSocket;
        int64_t inputOnSocket;
    };
    const Case cases[] = {
        {nullptr, 0, 25'000'000, 0},
        {nullptr, 250'000, 0, 250'000},
        {"0", 0, 0, 0},
        {"0", 250'000, 0, 250'000},
        {"-1", 0, -1, 0},
        {"-1", 250'000, -1, 0},
        {"1250000", 0, 1'250'000, 0},
    };
    srt_startup();
    for (const Case& c : cases) {
        av::SrtOptions options;
        options.inputBandwidth = c.muxBytes;
        if (c.maxbw != nullptr) {
            ASSERT_EQ(options.set("maxbw", c.maxbw), 0);
        }
        const SRTSOCKET socket = srt_create_socket();
        ASSERT_NE(socket, SRT_INVALID_SOCK);
        EXPECT_TRUE(options.applyBandwidth(socket));
        int64_t maxbw = 7;
        int64_t input = 7;
        int length = sizeof maxbw;
        EXPECT_EQ(srt_getsockflag(socket, SRTO_MAXBW, &maxbw, &length), 0);
        length = sizeof input;
        EXPECT_EQ(srt_getsockflag(socket, SRTO_INPUTBW, &input, &length), 0);
        const std::string name =
            std::string(c.maxbw ? c.maxbw : "not set") + ", mux " + std::to_string(c.muxBytes);
        EXPECT_EQ(maxbw, c.maxbwOnSocket) << name;
        EXPECT_EQ(input, c.inputOnSocket) << name;
        srt_close(socket);
    }
    srt_cleanup();
}

// Callers beyond the limits are refused in the handshake (the caller's connect fails),
// counted and logged once per episode; another address still fits under the total, and a
// place given back is taken again.
TEST_F(SrtCaster, TheListenerRefusesCallersBeyondItsLimits) {
    sluicetest::LogCapture log(CLog::kWarning);
    auto caster = open(true);
    ASSERT_EQ(caster->setOption("maxclients", "3"), 0);
    ASSERT_EQ(caster->setOption("maxperaddress", "2"), 0);
    std::vector<std::unique_ptr<SrtReceiver>> in;
    auto call = [&](const char* from) {
        auto receiver = std::make_unique<SrtReceiver>();
        if (!receiver->call(caster->localPort(), "", from)) {
            return false;
        }
        in.push_back(std::move(receiver));
        return waitFor([&] { return caster->clientCount() == in.size(); });
    };
    EXPECT_TRUE(call("127.0.0.1"));
    EXPECT_TRUE(call("127.0.0.1"));
    EXPECT_FALSE(call("127.0.0.1"));  // its two
    EXPECT_TRUE(call("127.0.0.2"));
    EXPECT_FALSE(call("127.0.0.3"));  // the three
    in.erase(in.begin());
    ASSERT_TRUE(waitFor([&] { return caster->clientCount() == 2; }));
    EXPECT_TRUE(call("127.0.0.3"));
    EXPECT_EQ(caster->clientCount(), 3u);
    EXPECT_EQ(caster->refusedCallers(), 2u);
    EXPECT_EQ(log.starting("(0) SRT caller 127.0.0.1 refused: 2 callers (at most 3, 2 per "
                           "address)")
                  .size(),
              1u);
    EXPECT_EQ(log.count("(0) SRT callers accepted again; 1 refused over the limits\n"), 2u);
}

// libsrt's own lines (here about handshakes refused for a missing passphrase) go to the
// library's logger at the level of its sinks, and never to standard error, also when there
// is no sink at all (no SluiceLog.ini).
TEST_F(SrtCaster, LibsrtWritesToTheLogNeverToStderr) {
    auto log = std::make_unique<sluicetest::LogCapture>(CLog::kWarning);
    auto caster = open(true);
    ASSERT_EQ(caster->setOption("passphrase", kPassphrase), 0);
    StderrCapture stderrCapture;
    SrtReceiver refused;
    EXPECT_FALSE(refused.call(caster->localPort()));
    EXPECT_FALSE(log->starting("libsrt: ").empty());
    log.reset();  // no sink
    caster = open(true);
    ASSERT_EQ(caster->setOption("passphrase", kPassphrase), 0);
    EXPECT_FALSE(refused.call(caster->localPort()));
    EXPECT_EQ(stderrCapture.text(), "");
}

TEST_F(SrtCaster, TwentyCallersReceiveIdenticalStreamsWithoutContinuityErrors) {
    auto caster = open(true);
    ASSERT_EQ(caster->setOption("maxbw", "-1"), 0);  // the clip goes out faster than real time
    ASSERT_EQ(caster->setOption("maxperaddress", "20"), 0);  // all of them from 127.0.0.1
    std::vector<std::unique_ptr<SrtReceiver>> receivers;
    for (int i = 0; i < 20; ++i) {
        receivers.push_back(std::make_unique<SrtReceiver>());
        ASSERT_TRUE(receivers.back()->call(caster->localPort())) << i;
    }
    ASSERT_TRUE(waitFor([&] { return caster->clientCount() == 20; }));
    writeClip(*caster);
    // Every caller gets what the caster handed to libsrt for it (twenty links at once take a
    // while on a loaded machine, with sanitizers).
    ASSERT_TRUE(waitFor(
        [&] {
            const auto stats = caster->destinationStats();
            if (stats.size() != 20) {
                return false;
            }
            for (size_t i = 0; i < 20; ++i) {
                if (stats[i].counters.backlogBytes != 0 ||
                    receivers[i]->receivedSize() != stats[i].counters.bytes) {
                    return false;
                }
            }
            return true;
        },
        std::chrono::seconds(60)));
    const std::string first = receivers[0]->received();
    ASSERT_GT(first.size(), 10000u);
    EXPECT_EQ(first.size() % 188, 0u);
    for (size_t i = 1; i < receivers.size(); ++i) {
        EXPECT_TRUE(receivers[i]->received() == first) << "caller " << i;
    }
    std::string report;
    EXPECT_EQ(tsCheck(first, report), 0) << report;
    EXPECT_NE(report.find("\"continuity\":0"), std::string::npos) << report;
    for (const auto& stats : caster->destinationStats()) {
        EXPECT_EQ(stats.protocol, SLUICE_PROTOCOL_SRT);
        EXPECT_EQ(stats.address, "127.0.0.1");
        EXPECT_TRUE(stats.hasTransport);
        EXPECT_EQ(stats.latencyMs, 120);
        EXPECT_EQ(stats.counters.dropped, 0u);
        EXPECT_GT(stats.connectedSinceUs, 0);
    }
}

// A constant-rate stream: the caller gets a valid stream at the mux rate, handed to libsrt by
// its byte clock rather than a frame at a time. The bounds are counts, on libsrt's source times
// (taken as each block was handed over: a busy machine only stretches them): within a
// millisecond at most one burst (four blocks), and a late sender catches up at most at twice the
// rate, so any stretch holds at most one burst more than twice the rate allows. Unpaced, a
// frame's blocks go in one go (a frame at 2 Mbit/s is 6-7 blocks).
TEST_F(SrtCaster, AConstantRateStreamIsHandedOverByItsByteClock) {
    const int64_t rate = 2'000'000;
    auto caster = open(true);
    ASSERT_EQ(caster->setOption("muxrate", std::to_string(rate)), 0);
    SrtReceiver receiver;
    ASSERT_TRUE(receiver.call(caster->localPort()));
    ASSERT_TRUE(waitFor([&] { return caster->clientCount() == 1; }));
    feed(caster);
    ASSERT_TRUE(waitFor([&] { return receiver.receivedSize() > rate / 8 * 3 / 2; },
                        std::chrono::seconds(30)));
    stopFeeding();
    std::string report;
    EXPECT_EQ(tsCheck(receiver.received(), report), 0) << report;
    EXPECT_NEAR(sluicetest::reportField(report, "transport_rate_bps"), rate, rate / 1000) << report;
    EXPECT_EQ(sluicetest::reportIndicator(report, "priority2", "pcr_accuracy"), 0) << report;
    EXPECT_GT(sluicetest::reportField(report, "null_share"), 0) << report;

    const size_t burst = 4;
    const double twiceTheRateUs = 1328 * 8e6 / (2.0 * rate);  // one block at twice the rate
    const std::vector<int64_t> times = receiver.sourceTimesUs();
    const auto most = [&](int64_t stretchUs) {
        size_t count = 0;
        for (size_t first = 0, last = 0; last < times.size(); ++last) {
            while (times[last] - times[first] >= stretchUs) {
                ++first;
            }
            count = std::max(count, last - first + 1);
        }
        return count;
    };
    EXPECT_LE(most(1000), burst) << "blocks within 1 ms, of " << times.size();
    for (const int64_t stretchUs : {10'000, 50'000}) {
        EXPECT_LE(most(stretchUs), burst + static_cast<size_t>(stretchUs / twiceTheRateUs))
            << "blocks within " << stretchUs << " us, of " << times.size();
    }
}

TEST_F(SrtCaster, FfprobeReadsTheListenerAsH264AndAac) {
    auto caster = open(true);
    feed(caster);
    std::string out;
    const int status = testsupport::shell(
        "timeout 20 ffprobe -v error -show_streams -of compact 'srt://127.0.0.1:" +
            std::to_string(caster->localPort()) + "?mode=caller' 2>&1",
        &out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("codec_name=h264"), std::string::npos) << out;
    EXPECT_NE(out.find("codec_name=aac"), std::string::npos) << out;
}

TEST_F(SrtCaster, ACallerKilledMidStreamDoesNotDisturbTheOthers) {
    auto caster = open(true);
    ASSERT_EQ(caster->setOption("maxbw", "-1"), 0);
    testsupport::ChildProcess doomed;
    ASSERT_TRUE(doomed.start(
        {"srt-live-transmit", "-q",
         "srt://127.0.0.1:" + std::to_string(caster->localPort()) + "?mode=caller", "file://con"}));
    SrtReceiver a;
    SrtReceiver b;
    ASSERT_TRUE(a.call(caster->localPort()));
    ASSERT_TRUE(b.call(caster->localPort()));
    ASSERT_TRUE(waitFor([&] { return caster->clientCount() == 3; }));
    writeClip(*caster);
    ASSERT_TRUE(waitFor([&] { return !doomed.output().empty(); }));
    doomed.signal(SIGKILL);
    doomed.waitExit(std::chrono::seconds(10));
    writeClip(*caster);
    writeClip(*caster);
    // The dead caller goes once libsrt gives up on it; the others got everything.
    ASSERT_TRUE(waitFor([&] { return caster->clientCount() == 2; }, std::chrono::seconds(30)));
    ASSERT_TRUE(waitFor([&] {
        const auto stats = caster->destinationStats();
        return stats.size() == 2 && stats[0].counters.backlogBytes == 0 &&
               stats[1].counters.backlogBytes == 0 && a.receivedSize() == stats[0].counters.bytes &&
               b.receivedSize() == stats[1].counters.bytes;
    }));
    EXPECT_TRUE(a.received() == b.received());
    std::string report;
    EXPECT_EQ(tsCheck(a.received(), report), 0) << report;
    for (const auto& stats : caster->destinationStats()) {
        EXPECT_EQ(stats.counters.dropped, 0u);
    }
}

// A caller that connects and never reads, with the smallest flow window libsrt allows:
// the healthy caller beside it still gets the whole stream.
TEST_F(SrtCaster, AStalledCallerDoesNotHoldUpAHealthyOne) {
    auto caster = open(true);
    ASSERT_EQ(caster->setOption("maxbw", "-1"), 0);
    srt_startup();
    const SRTSOCKET stalled = srt_create_socket();
    // A receive buffer of 32 packets that nobody reads: without it libsrt's default buffer
    // (8192 packets) would take the whole test's stream and the caller would never stall.
    const int window = 32;
    const int bufferBytes = window * 1500;
    ASSERT_EQ(srt_setsockflag(stalled, SRTO_FC, &window, sizeof window), 0);
    ASSERT_EQ(srt_setsockflag(stalled, SRTO_RCVBUF, &bufferBytes, sizeof bufferBytes), 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(caster->localPort());
    ASSERT_NE(srt_connect(stalled, reinterpret_cast<sockaddr*>(&address), sizeof address),
              SRT_ERROR);
    SrtReceiver healthy;
    ASSERT_TRUE(healthy.call(caster->localPort()));
    ASSERT_TRUE(waitFor([&] { return caster->clientCount() == 2; }));
    // The healthy one has received all of its share.
    const auto caughtUp = [&] {
        for (const auto& stats : caster->destinationStats()) {
            if (stats.counters.backlogBytes == 0 && stats.counters.bytes > 0 &&
                healthy.receivedSize() == stats.counters.bytes) {
                return true;
            }
        }
        return false;
    };
    // A clip at a time, each once the healthy caller has caught up: five clips written at
    // once outgrow a peer's queue when the machine is busy, and the oldest blocks are dropped.
    for (int i = 0; i < 5; ++i) {
        writeClip(*caster);
        ASSERT_TRUE(waitFor(caughtUp)) << "clip " << i;
    }
    // Every block was handed to libsrt for both, and the stalled caller's share is still
    // waiting there unacknowledged while the healthy one has all of it.
    const auto stats = caster->destinationStats();
    ASSERT_EQ(stats.size(), 2u);
    EXPECT_EQ(stats[0].counters.datagrams, stats[1].counters.datagrams);
    EXPECT_GT(std::max(stats[0].counters.backlogBytes, stats[1].counters.backlogBytes), 0u);
    std::string report;
    EXPECT_EQ(tsCheck(healthy.received(), report), 0) << report;
    // Removing every target disconnects the callers too; the listener stays open.
    caster->removeAllTarget();
    EXPECT_EQ(caster->clientCount(), 0u);
    EXPECT_TRUE(caster->destinationStats().empty());
    SrtReceiver later;
    ASSERT_TRUE(later.call(caster->localPort()));
    EXPECT_TRUE(waitFor([&] { return caster->clientCount() == 1; }));
    srt_close(stalled);
    srt_cleanup();
}

// What callers cost is given back once they have left: glibc keeps the memory libsrt's
// threads freed unless it is told to give it back.
TEST_F(SrtCaster, TheMemoryOfCallersThatLeftIsGivenBack) {
#if defined(BUILD_SANITIZED)
    GTEST_SKIP() << "the sanitizers' allocators keep freed memory in their own way";
#endif
    auto caster = open(true);
    ASSERT_EQ(caster->setOption("maxbw", "-1"), 0);
    ASSERT_EQ(caster->setOption("latency", "1000"), 0);  // more for libsrt to keep per caller
    const long before = residentKib();
    long peak = 0;
    {
        std::vector<std::unique_ptr<SrtReceiver>> receivers;
        for (int i = 0; i < 24; ++i) {
            const std::string from = "127.0.0." + std::to_string(1 + i / 8);  // 8 each
            receivers.push_back(std::make_unique<SrtReceiver>());
            ASSERT_TRUE(receivers.back()->call(caster->localPort(), "", from.c_str())) << i;
        }
        ASSERT_TRUE(waitFor([&] { return caster->clientCount() == 24; }));
        for (int i = 0; i < 3; ++i) {
            writeClip(*caster);
        }
        ASSERT_TRUE(waitFor([&] {
            return std::all_of(receivers.begin(), receivers.end(),
                               [](const auto& r) { return r->receivedSize() > 0; });
        }));
        peak = residentKib();
    }
    ASSERT_TRUE(waitFor([&] { return caster->clientCount() == 0; }));
    EXPECT_GT(peak - before, 8 * 1024) << "the callers should cost megabytes";
    // At least half of it back: libsrt frees closed sockets late on a loaded machine, while
    // without the trims the memory only grew after the callers left.
    EXPECT_TRUE(waitFor([&] { return residentKib() - before < (peak - before) / 2; },
                        std::chrono::seconds(20)))
        << "before " << before << " KiB, peak " << peak << " KiB, now " << residentKib();
}

// One peer's queue keeps the newest blocks: what does not fit is dropped oldest first and
// counted, and what is still queued when the link ends counts as dropped too.
TEST(SrtLinkQueue, KeepsTheNewestBlocksAndCountsTheDropped) {
    srt_startup();
    av::SrtLink link(srt_create_socket(), "127.0.0.1", 9);  // never connected: nothing is sent
    const size_t extra = 76;
    for (size_t i = 0; i < av::SrtLink::kQueueCapacity + extra; ++i) {
        auto block = std::make_shared<av::Datagram>();
        const std::vector<uint8_t> bytes(1316, static_cast<uint8_t>(i));
        block->assign(nullptr, 0, bytes.data(), bytes.size());
        link.push(block);
    }
    const av::SrtLinkStats stats = link.stats();
    EXPECT_EQ(stats.counters.dropped, extra);
    EXPECT_EQ(stats.counters.backlogBytes, av::SrtLink::kQueueCapacity * 1316);
    EXPECT_EQ(stats.counters.datagrams, 0u);
    srt_close(link.release());
    EXPECT_EQ(link.counters().dropped, av::SrtLink::kQueueCapacity + extra);
    EXPECT_EQ(link.stats().counters.backlogBytes, 0u);
    srt_cleanup();
}

TEST_F(SrtCaster, AnEncryptedListenerRefusesTheWrongPassphraseAndTheCallerRetries) {
    sluicetest::LogCapture log;
    SrtReceiver listener;
    ASSERT_TRUE(listener.listen(0, kPassphrase));
    const uint16_t port = listener.port();
    const auto received = [&] { return listener.receivedSize(); };
    auto caster = open(false);
    ASSERT_EQ(caster->setOption("passphrase", "wrong-passphrase-42"), 0);
    ASSERT_TRUE(caster->addTarget("127.0.0.1", static_cast<uint16_t>(port)));
    feed(caster);
    ASSERT_TRUE(waitFor([&] {
        for (const std::string& line : log.all()) {
            if (line.find("cannot connect") != std::string::npos) {
                return true;
            }
        }
        return false;
    }));
    EXPECT_EQ(caster->connectedTargetCount(), 0u);
    EXPECT_EQ(received(), 0u);

    // The right passphrase: the target reconnects on its own and the stream flows.
    ASSERT_EQ(caster->setOption("passphrase", kPassphrase), 0);
    ASSERT_TRUE(waitFor([&] { return received() > 50000; }, std::chrono::seconds(30)))
        << "connected targets: " << caster->connectedTargetCount();
    stopFeeding();
    const auto stats = caster->destinationStats();
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_TRUE(stats[0].hasTransport);
    EXPECT_GT(stats[0].counters.datagrams, 0u);
    for (const std::string& line : log.all()) {
        EXPECT_EQ(line.find(kPassphrase), std::string::npos) << line;
        EXPECT_EQ(line.find("wrong-passphrase-42"), std::string::npos) << line;
    }
}

TEST_F(SrtCaster, TheCallerReconnectsAfterItsListenerRestarts) {
    SrtReceiver listener;
    ASSERT_TRUE(listener.listen(0));
    const uint16_t port = listener.port();
    auto caster = open(false);
    ASSERT_TRUE(caster->addTarget("127.0.0.1", port));
    EXPECT_FALSE(caster->addTarget("127.0.0.1", port));
    feed(caster);
    ASSERT_TRUE(waitFor([&] { return listener.receivedSize() > 10000; }));
    listener.close();
    ASSERT_TRUE(
        waitFor([&] { return caster->connectedTargetCount() == 0; }, std::chrono::seconds(30)));
    SrtReceiver again;
    ASSERT_TRUE(waitFor([&] { return again.listen(port); }));
    ASSERT_TRUE(waitFor([&] { return again.receivedSize() > 10000; }, std::chrono::seconds(30)));
    stopFeeding();
    std::string report;
    // From its first whole packet on, the new link's stream is clean.
    const std::string bytes = again.received();
    EXPECT_EQ(tsCheck(bytes, report), 0) << report;
    caster->removeTarget("127.0.0.1", port);
    EXPECT_EQ(caster->destinationStats().size(), 0u);
}

}  // namespace
