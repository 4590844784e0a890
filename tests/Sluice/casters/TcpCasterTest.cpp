// The raw TCP caster with real clients on loopback: what each client receives, what it sends
// and stalled clients. (Ports in use, disconnecting and closing: through sluice.h.)
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "InspectableCaster.h"
#include "LibrarySettings.h"
#include "LogCapture.h"
#include "StreamBlocks.h"
#include "TcpClient.h"
#include "TcpTsMediaCaster.h"
#include "TestSupport.h"

using av::TcpConnection;
using av::TcpTsMediaCaster;
using sluicetest::blockNumbers;
using sluicetest::kBlockSize;
using sluicetest::numberedBlock;
using sluicetest::TcpClient;
using testsupport::waitFor;

namespace {

class TcpCaster : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(m_caster.open("127.0.0.1", 0, sluicetest::audioOnlyConfig()), 0);
    }

    void feed(uint32_t first, uint32_t count = 1) {
        for (uint32_t n = first; n < first + count; ++n) {
            const std::string block = numberedBlock(n);
            m_caster.onMuxData(reinterpret_cast<const uint8_t*>(block.data()), block.size(), 0, 0);
        }
    }
    bool waitForClients(size_t count) {
        return waitFor([&] { return m_caster.connectionCount() == count; });
    }
    /// What the caster holds for the client, as its jam check measures it.
    size_t slowBacklog(const TcpClient& client) {
        for (const auto& stats : m_caster.destinationStats()) {
            if (stats.address + ":" + std::to_string(stats.port) == client.name()) {
                return stats.counters.backlogBytes;
            }
        }
        return 0;
    }
    static std::vector<uint32_t> numbers(TcpClient& client) {
        std::vector<uint32_t> n;
        EXPECT_TRUE(blockNumbers(client.received(), n));
        return n;
    }
    static std::vector<uint32_t> range(uint32_t first, uint32_t end) {
        std::vector<uint32_t> n;
        for (uint32_t i = first; i < end; ++i) {
            n.push_back(i);
        }
        return n;
    }

    sluicetest::InspectableCaster<TcpTsMediaCaster> m_caster;
};

}  // namespace

// Blocks written while nobody is connected are dropped, never replayed; a later client gets
// the same bytes as an earlier one from the moment it connected.
TEST_F(TcpCaster, ClientsReceiveTheSameBytesFromTheMomentTheyConnect) {
    feed(0, 10);
    TcpClient first(m_caster.port());
    ASSERT_TRUE(waitForClients(1));
    feed(10, 30);
    TcpClient second(m_caster.port());
    ASSERT_TRUE(waitForClients(2));
    feed(40, 40);
    ASSERT_TRUE(first.waitForSize(70 * kBlockSize));
    ASSERT_TRUE(second.waitForSize(40 * kBlockSize));
    EXPECT_EQ(numbers(first), range(10, 80));
    const std::string all = first.received();
    EXPECT_EQ(second.received(), all.substr(all.size() - 40 * kBlockSize));
}

TEST_F(TcpCaster, BytesAClientSendsChangeNothing) {
    TcpClient talker(m_caster.port());
    TcpClient silent(m_caster.port());
    ASSERT_TRUE(waitForClients(2));
    ASSERT_TRUE(talker.send("GET / HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(talker.send(std::string(256 * 1024, 'x')));
    feed(0, 20);
    ASSERT_TRUE(talker.waitForSize(20 * kBlockSize));
    ASSERT_TRUE(silent.waitForSize(20 * kBlockSize));
    EXPECT_EQ(talker.received(), silent.received());  // no answer, no framing
    EXPECT_FALSE(talker.closedByServer());
    EXPECT_EQ(m_caster.connectionCount(), 2u);
    // Everything sent has reached the server and been read off the socket, and none of it
    // is kept.
    ASSERT_TRUE(waitFor([&] { return talker.unsent() == 0 && m_caster.unreadInput() == 0; }));
}

// A stalled client is jammed once its backlog passes 1,024,000 bytes, loses whole blocks
// until it has drained to 256,000 bytes, then resumes; a client that keeps reading loses
// nothing meanwhile.
TEST_F(TcpCaster, AStalledClientIsJammedAndResumesWhileAFastOneGetsEverything) {
    sluicetest::LogCapture log;
    // Small socket buffers: the backlog builds up in the bufferevent, where it is measured.
    const int oldSendBuffer = av::LibrarySettings::sendBufferSize();
    av::LibrarySettings::setSendBufferSize(8192);
    TcpClient fast(m_caster.port());
    TcpClient slow(m_caster.port(), 4096, false);
    ASSERT_TRUE(waitForClients(2));
    av::LibrarySettings::setSendBufferSize(oldSendBuffer);
    const std::string jamming = "TcpMediaCasterConnection(" + slow.name() + ") is jamming.";
    const std::string resumed = "TcpMediaCasterConnection(" + slow.name() + ") resume from jam:";

    uint32_t next = 0;
    // The fast client never falls more than 100 blocks (131,600 bytes) behind, well below
    // the limits, so it must get every block.
    auto feedPaced = [&] {
        if (!fast.waitForSize((next > 100 ? next - 100 : 0) * kBlockSize)) {
            return false;
        }
        feed(next++);
        return true;
    };
    auto feedUntil = [&](const std::string& prefix) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (log.starting(prefix).empty()) {
            if (std::chrono::steady_clock::now() > deadline || !feedPaced()) {
                return false;
            }
        }
        return true;
    };

    // The level a line logs ("... buffer size: N" or "... buffer sizeN").
    const auto loggedLevel = [&](const std::string& prefix) {
        const std::string line = log.starting(prefix).front();
        return std::stoi(line.substr(line.rfind("size") + 4 + (line.find("size:") != line.npos)));
    };
    ASSERT_TRUE(feedUntil(jamming));
    const uint32_t jammedAt = next - 1;
    // The backlog grows one block per block fed: the jam comes with the first block past
    // the limit.
    EXPECT_GT(loggedLevel(jamming), 1024000);
    EXPECT_LE(loggedLevel(jamming), 1024000 + static_cast<int>(kBlockSize));
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(feedPaced());
    }
    // Nothing drains while the client does not read: the 20 blocks are dropped, and the
    // message says so once for the whole jam.
    EXPECT_EQ(log.starting("evbuffer cache is too much. cache:").size(), 1u);
    EXPECT_EQ(log.starting("evbuffer cache is too much. cache:").front().find(", drop:0\n") !=
                  std::string::npos,
              true);

    // The client drains a little at a time with a block fed after each step: it resumes with
    // the first block after its backlog fell to 256,000 bytes, within what the kernel moves
    // at once (it writes again only once a good part of the socket buffer is free) of that
    // level.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (log.starting(resumed).empty()) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        const size_t backlog = slowBacklog(slow);
        const size_t target = slow.receivedSize() + (backlog > 300000 ? 32 : 1) * kBlockSize;
        slow.resumeUpTo(target);
        ASSERT_TRUE(
            waitFor([&] { return slowBacklog(slow) < backlog || slow.receivedSize() >= target; }));
        ASSERT_TRUE(feedPaced());
    }
    const uint32_t resumedAt = next - 1;
    EXPECT_LE(loggedLevel(resumed), 256000);
    EXPECT_GT(loggedLevel(resumed), 256000 - 16 * static_cast<int>(kBlockSize));
    slow.resume();
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(feedPaced());
    }
    ASSERT_TRUE(fast.waitForSize(next * kBlockSize));
    EXPECT_EQ(numbers(fast), range(0, next));

    // The slow client: every block up to the jam, none while jammed, every one from the
    // resume on.
    ASSERT_TRUE(waitFor([&] {
        std::vector<uint32_t> n;
        return blockNumbers(slow.received(), n) && !n.empty() && n.back() == next - 1;
    }));
    const std::vector<uint32_t> got = numbers(slow);
    std::vector<uint32_t> expected = range(0, jammedAt);
    const std::vector<uint32_t> tail = range(resumedAt, next);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(log.starting(jamming).size(), 1u);
    EXPECT_EQ(log.starting(resumed).size(), 1u);
    // The jam's cost, once: every block from the jam to the resume.
    EXPECT_EQ(log.count("TcpMediaCasterConnection(" + slow.name() + ") dropped " +
                        std::to_string(resumedAt - jammedAt) + " blocks while jammed\n"),
              1u);
    EXPECT_TRUE(log.starting("TcpMediaCasterConnection(" + fast.name() + ")").empty());
}

// Stalled clients hold references to one shared copy of each block, not copies of their own,
// and let go of every block when they leave.
TEST_F(TcpCaster, StalledClientsShareEachBlockAndLetGoWhenTheyLeave) {
    // Small socket buffers: the backlog stays in the bufferevents.
    const int oldSendBuffer = av::LibrarySettings::sendBufferSize();
    av::LibrarySettings::setSendBufferSize(8192);
    std::vector<std::unique_ptr<TcpClient>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<TcpClient>(m_caster.port(), 4096, false));
    }
    ASSERT_TRUE(waitForClients(3));
    av::LibrarySettings::setSendBufferSize(oldSendBuffer);
    // Far more than the sockets hold, far less than the jam limit.
    std::vector<std::shared_ptr<av::MediaPacket>> blocks;
    for (uint32_t n = 0; n < 200; ++n) {
        auto packet = std::make_shared<av::MediaPacket>();
        const std::string block = numberedBlock(n);
        packet->assign(block.data(), block.size());
        m_caster.broadcast(packet);
        blocks.push_back(std::move(packet));
    }
    EXPECT_EQ(blocks.back().use_count(), 4);  // ours and one reference per client
    clients.clear();
    ASSERT_TRUE(waitForClients(0));
    EXPECT_TRUE(waitFor([&] {
        return std::all_of(blocks.begin(), blocks.end(),
                           [](const auto& b) { return b.use_count() == 1; });
    }));
}
