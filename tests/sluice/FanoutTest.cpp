// The UDP and RTP casters' fan-out on loopback: one receiving socket takes the datagrams of
// several targets (127.0.0.1, .2, .3 on one port) in the order they were sent, so bursts are
// counted in order, never by clock.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "MediaClip.h"
#include "RtpTsMediaCaster.h"
#include "TestSupport.h"
#include "UdpTsMediaCaster.h"
#include "sluice.h"

using av::MediaCasterConfig;
using av::RtpTsMediaCaster;
using av::UdpTsMediaCaster;
using sluicetest::TestFrame;

namespace {

// Datagrams with the local address they were sent to (IP_PKTINFO), in arrival order.
class OrderedReceiver {
public:
    struct Arrival {
        int host;  // last byte of the destination address
        std::string bytes;
    };

    OrderedReceiver() {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        int size = 16 * 1024 * 1024;
        if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        int on = 1;
        ::setsockopt(m_fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        // Any local address, so that 127.0.0.2 and .3 arrive here too; only loopback is sent to.
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            throw std::runtime_error("OrderedReceiver: bind failed");
        }
        socklen_t length = sizeof addr;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &length);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { loop(); });
    }
    ~OrderedReceiver() {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }

    uint16_t port() const { return m_port; }
    bool waitQuiet() {
        return testsupport::waitFor([this] {
            int pending = 0;
            ::ioctl(m_fd, FIONREAD, &pending);
            return pending == 0 && !m_busy;
        });
    }
    std::vector<Arrival> arrivals() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_arrivals;
    }
    size_t countFor(int host) {
        std::lock_guard<std::mutex> lock(m_mutex);
        size_t n = 0;
        for (const Arrival& a : m_arrivals) {
            n += a.host == host ? 1 : 0;
        }
        return n;
    }
    std::map<int, std::vector<std::string>> byHost() {
        std::map<int, std::vector<std::string>> all;
        for (const Arrival& a : arrivals()) {
            all[a.host].push_back(a.bytes);
        }
        return all;
    }
    // The longest run of consecutive datagrams for one destination.
    size_t longestRun() {
        size_t longest = 0;
        size_t run = 0;
        int last = -1;
        for (const Arrival& a : arrivals()) {
            run = a.host == last ? run + 1 : 1;
            last = a.host;
            longest = std::max(longest, run);
        }
        return longest;
    }

private:
    void loop() {
        std::string buffer(65536, '\0');
        char control[256];
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) {
                continue;
            }
            m_busy = true;
            iovec vector{buffer.data(), buffer.size()};
            msghdr message{};
            message.msg_iov = &vector;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t n = ::recvmsg(m_fd, &message, 0);
            if (n >= 0) {
                int host = -1;
                for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr;
                     c = CMSG_NXTHDR(&message, c)) {
                    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                        const auto* info = reinterpret_cast<const in_pktinfo*>(CMSG_DATA(c));
                        host = static_cast<int>(ntohl(info->ipi_addr.s_addr) & 0xFF);
                    }
                }
                std::lock_guard<std::mutex> lock(m_mutex);
                m_arrivals.push_back({host, std::string(buffer.data(), static_cast<size_t>(n))});
            }
            m_busy = false;
        }
    }

    int m_fd = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_busy{false};
    std::mutex m_mutex;
    std::vector<Arrival> m_arrivals;
    std::thread m_thread;
};

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
        ASSERT_TRUE(sluicetest::makeClip(m_dir.path(), 1, 320, 240, error)) << error;
        ASSERT_TRUE(sluicetest::readFrames(m_dir.file("clip.mp4"), m_frames, m_info, error))
            << error;
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

    MediaCasterConfig config() const {
        MediaCasterConfig c;
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

    // The clip, shifted by round seconds so that repeated writes keep timestamps rising.
    void writeClip(av::TsMediaCaster& caster, int round = 0) {
        for (const TestFrame& f : m_frames) {
            caster.write(f.type, reinterpret_cast<const uint8_t*>(f.bytes.data()),
                         static_cast<int>(f.bytes.size()), f.ptsUs + round * 2'000'000LL, 0,
                         f.key ? 1 : 0);
        }
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
    OrderedReceiver receiver;
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
    const auto byHost = receiver.byHost();
    ASSERT_EQ(byHost.size(), 3u);
    const std::vector<std::string>& first = byHost.at(1);
    ASSERT_EQ(first.size(), owed);
    EXPECT_EQ(byHost.at(2), first);
    EXPECT_EQ(byHost.at(3), first);
    for (size_t i = 0; i < first.size(); ++i) {
        ASSERT_LE(first[i].size() - header(), 1316u);
        ASSERT_EQ((first[i].size() - header()) % 188, 0u);
        ASSERT_EQ(static_cast<uint8_t>(first[i][header()]), 0x47);
        if (rtp()) {
            ASSERT_EQ(rtpSequence(first[i]), static_cast<uint16_t>(i)) << i;
        }
    }
    EXPECT_LE(receiver.longestRun(), 4u);

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
    OrderedReceiver receiver;
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
    const bool arrived = testsupport::waitFor([&] { return receiver.countFor(2) >= 20; });
    caster->removeTarget("127.0.0.2", receiver.port());
    removed = true;
    writer.join();
    ASSERT_TRUE(arrived);
    caster->close();
    ASSERT_TRUE(receiver.waitQuiet());

    const auto byHost = receiver.byHost();
    const std::vector<std::string>& first = byHost.at(1);
    EXPECT_EQ(first.size(), blocks(*caster));
    EXPECT_EQ(byHost.at(3), first);
    const std::vector<std::string>& gone = byHost.at(2);
    ASSERT_LT(gone.size(), first.size());
    EXPECT_TRUE(std::equal(gone.begin(), gone.end(), first.begin()));
    EXPECT_EQ(caster->targetStats().size(), 2u);
}

// Written far faster than the pace, then closed at once: close still sends all of it.
TEST_P(Fanout, CloseSendsWhatIsStillQueued) {
    OrderedReceiver receiver;
    auto caster = makeCaster();
    ASSERT_EQ(caster->open("", 0, config()), 0);
    addThree(*caster, receiver.port());
    for (int round = 0; round < 5; ++round) {
        writeClip(*caster, round);
    }
    caster->close();
    ASSERT_TRUE(receiver.waitQuiet());
    for (int host : {1, 2, 3}) {
        EXPECT_EQ(receiver.countFor(host), blocks(*caster)) << host;
    }
}

// A target the system refuses (port 0: EINVAL) and one nobody listens on are counted and
// logged, and take nothing from the others.
TEST_P(Fanout, UnreachableTargetsCostTheOthersNothing) {
    OrderedReceiver receiver;
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
    EXPECT_EQ(receiver.countFor(1), owed);
    EXPECT_EQ(receiver.countFor(3), owed);
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
