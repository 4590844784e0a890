// The UDP and RTP casters' fan-out on loopback: one receiving socket takes the datagrams of
// several targets (127.0.0.1, .2, .3 on one port) in the order they were sent, so bursts are
// counted in order, never by clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

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

namespace {

using Receiver = sluicetest::UdpReceiver;

size_t countFor(Receiver& receiver, int host) {
    size_t n = 0;
    for (const Receiver::Arrival& a : receiver.arrivals()) {
        n += a.host == host ? 1 : 0;
    }
    return n;
}

std::map<int, std::vector<std::string>> byHost(Receiver& receiver) {
    std::map<int, std::vector<std::string>> all;
    for (Receiver::Arrival& a : receiver.arrivals()) {
        all[a.host].push_back(std::move(a.bytes));
    }
    return all;
}

// The longest run of consecutive datagrams for one destination.
size_t longestRun(Receiver& receiver) {
    size_t longest = 0;
    size_t run = 0;
    int last = -1;
    for (const Receiver::Arrival& a : receiver.arrivals()) {
        run = a.host == last ? run + 1 : 1;
        last = a.host;
        longest = std::max(longest, run);
    }
    return longest;
}

// Counts the multiplexer's blocks, so that a test knows how many datagrams each target is owed.
template <class Caster>
class Counting : public Caster {
public:
    void onMuxData(const uint8_t* data, size_t size, int64_t pts, int flags) override {
        ++blocks;
        Caster::onMuxData(data, size, pts, flags);
    }
    std::atomic<size_t> blocks{0};
};

uint16_t rtpSequence(const std::string& d) {
    return static_cast<uint16_t>(static_cast<uint8_t>(d[2]) << 8 | static_cast<uint8_t>(d[3]));
}

class Fanout : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sluicetest::smallClipFrames(m_dir.path(), m_frames, m_info, error)) << error;
    }

    bool rtp() const { return GetParam(); }
    size_t header() const { return rtp() ? RtpTsMediaCaster::kHeaderSize : 0; }

    std::unique_ptr<UdpTsMediaCaster> makeCaster() {
        if (rtp()) {
            return std::make_unique<Counting<RtpTsMediaCaster>>();
        }
        return std::make_unique<Counting<UdpTsMediaCaster>>();
    }
    static size_t blocks(UdpTsMediaCaster& caster) {
        if (auto* c = dynamic_cast<Counting<RtpTsMediaCaster>*>(&caster)) {
            return c->blocks;
        }
        return dynamic_cast<Counting<UdpTsMediaCaster>&>(caster).blocks;
    }

    MediaCasterConfig config() const { return sluicetest::clipConfig(m_info); }
    // The clip, shifted by round seconds so that repeated writes keep timestamps rising.
    void writeClip(av::TsMediaCaster& caster, int round = 0) {
        sluicetest::writeFrames(caster, m_frames, round * 2'000'000LL);
    }

    void addThree(UdpTsMediaCaster& caster, uint16_t port) {
        for (const char* host : {"127.0.0.1", "127.0.0.2", "127.0.0.3"}) {
            ASSERT_TRUE(caster.addTarget(host, port));
        }
    }

    testsupport::TempDir m_dir;
    std::vector<TestFrame> m_frames;
    sluicetest::ClipInfo m_info;
};

}  // namespace

// Every target gets every block once, whole and in the multiplexer's order (the trailer that
// close flushes included), and never more than four datagrams back to back; RTP sequence
// numbers run without a gap at every target.
TEST_P(Fanout, EveryTargetGetsTheSameDatagramsInOrderInBurstsOfFourAtMost) {
    Receiver receiver(true);
    auto caster = makeCaster();
    ASSERT_EQ(caster->open("", 0, config()), 0);
    addThree(*caster, receiver.port());
    for (int round = 0; round < 3; ++round) {
        writeClip(*caster, round);
    }
    caster->close();
    ASSERT_TRUE(receiver.waitQuiet());

    const size_t owed = blocks(*caster);
    ASSERT_GT(owed, 20u);
    const auto hosts = byHost(receiver);
    ASSERT_EQ(hosts.size(), 3u);
    const std::vector<std::string>& first = hosts.at(1);
    ASSERT_EQ(first.size(), owed);
    EXPECT_EQ(hosts.at(2), first);
    EXPECT_EQ(hosts.at(3), first);
    for (size_t i = 0; i < first.size(); ++i) {
        ASSERT_LE(first[i].size() - header(), 1316u);
        ASSERT_EQ((first[i].size() - header()) % 188, 0u);
        ASSERT_EQ(static_cast<uint8_t>(first[i][header()]), 0x47);
        if (rtp()) {
            ASSERT_EQ(rtpSequence(first[i]), static_cast<uint16_t>(i)) << i;
        }
    }
    EXPECT_LE(longestRun(receiver), 4u);

    // The counters say the same.
    for (const auto& stats : caster->targetStats()) {
        EXPECT_EQ(stats.counters.datagrams, owed);
        size_t bytes = 0;
        for (const std::string& d : first) {
            bytes += d.size();
        }
        EXPECT_EQ(stats.counters.bytes, bytes);
        EXPECT_EQ(stats.counters.sendErrors, 0u);
        EXPECT_EQ(stats.counters.dropped, 0u);
        EXPECT_EQ(stats.counters.backlogBytes, 0u);
    }
}

// A target removed while datagrams are going out gets a gapless beginning of the stream and
// nothing after it; the others lose nothing.
TEST_P(Fanout, ATargetRemovedWhileSendingLeavesTheOthersWhole) {
    Receiver receiver(true);
    auto caster = makeCaster();
    ASSERT_EQ(caster->open("", 0, config()), 0);
    addThree(*caster, receiver.port());
    std::atomic<bool> removed{false};
    std::thread writer([&] {
        // A round at a time, each once the last has gone out, so the bounded queue never
        // has to drop.
        int round = 0;
        while (!removed) {
            writeClip(*caster, round++);
            testsupport::waitFor([&] { return caster->sendQueueEmpty(); });
        }
        writeClip(*caster, round);  // certainly more after the removal
    });
    const bool arrived = testsupport::waitFor([&] { return countFor(receiver, 2) >= 20; });
    caster->removeTarget("127.0.0.2", receiver.port());
    removed = true;
    writer.join();
    ASSERT_TRUE(arrived);
    caster->close();
    ASSERT_TRUE(receiver.waitQuiet());

    const auto hosts = byHost(receiver);
    const std::vector<std::string>& first = hosts.at(1);
    EXPECT_EQ(first.size(), blocks(*caster));
    EXPECT_EQ(hosts.at(3), first);
    const std::vector<std::string>& gone = hosts.at(2);
    ASSERT_LT(gone.size(), first.size());
    EXPECT_TRUE(std::equal(gone.begin(), gone.end(), first.begin()));
    EXPECT_EQ(caster->targetStats().size(), 2u);
}

// A target the system refuses (port 0: EINVAL) and one nobody listens on are counted and
// logged, and take nothing from the others.
TEST_P(Fanout, UnreachableTargetsCostTheOthersNothing) {
    Receiver receiver(true);
    auto caster = makeCaster();
    ASSERT_EQ(caster->open("", 0, config()), 0);
    ASSERT_TRUE(caster->addTarget("127.0.0.1", receiver.port()));
    ASSERT_TRUE(caster->addTarget("127.0.0.1", 0));
    ASSERT_TRUE(caster->addTarget("127.0.0.4", 9));  // discard port: refused on loopback
    ASSERT_TRUE(caster->addTarget("127.0.0.3", receiver.port()));
    writeClip(*caster);
    caster->close();
    ASSERT_TRUE(receiver.waitQuiet());
    const size_t owed = blocks(*caster);
    EXPECT_EQ(countFor(receiver, 1), owed);
    EXPECT_EQ(countFor(receiver, 3), owed);
    const auto stats = caster->targetStats();
    ASSERT_EQ(stats.size(), 4u);
    EXPECT_EQ(stats[1].counters.sendErrors, owed);
    EXPECT_EQ(stats[1].counters.lastErrno, EINVAL);
    EXPECT_EQ(stats[1].counters.datagrams, 0u);
    EXPECT_EQ(stats[0].counters.datagrams, owed);
    EXPECT_EQ(stats[3].counters.datagrams, owed);
}

INSTANTIATE_TEST_SUITE_P(Casters, Fanout, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Rtp" : "Udp"; });
