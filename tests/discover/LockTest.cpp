// The provisioning lock and the per-sender limits, without a network; the daemon on the wire
// is in PeerloProcessTest.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <initializer_list>

#include "BoardPaths.h"
#include "DiscoveryPacket.h"
#include "DiscoveryResponder.h"
#include "ProvisionLock.h"
#include "SenderRateLimit.h"
#include "TestSupport.h"

using namespace discover;
using testsupport::writeFile;
using Clock = SenderRateLimit::Clock;
using std::chrono::milliseconds;

namespace {

TEST(SenderRateLimit, AllowsSoManyPerWindowAndSender) {
    SenderRateLimit limit(10, std::chrono::seconds(1));
    const Clock::time_point t0{};
    const uint32_t a = 0x0100000a;
    const uint32_t b = 0x0200000a;
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(limit.allow(a, t0 + milliseconds(i * 10))) << i;
    }
    EXPECT_FALSE(limit.allow(a, t0 + milliseconds(100)));
    EXPECT_FALSE(limit.allow(a, t0 + milliseconds(999)));  // one before the window ends
    EXPECT_TRUE(limit.allow(b, t0 + milliseconds(999)));   // each sender has its own
    EXPECT_TRUE(limit.allow(a, t0 + milliseconds(1000)));  // a new window
    for (int i = 1; i < 10; ++i) {
        EXPECT_TRUE(limit.allow(a, t0 + milliseconds(1000 + i)));
    }
    EXPECT_FALSE(limit.allow(a, t0 + milliseconds(1500)));
}

TEST(SenderRateLimit, OncePerMinute) {
    SenderRateLimit notices(1, std::chrono::minutes(1));
    const Clock::time_point t0{};
    EXPECT_TRUE(notices.allow(7, t0));
    EXPECT_FALSE(notices.allow(7, t0 + std::chrono::seconds(59)));
    EXPECT_TRUE(notices.allow(7, t0 + std::chrono::seconds(60)));
}

// Spoofed sender addresses must not grow the table without bound, nor lock out a sender
// whose window is still open when room is made.
TEST(SenderRateLimit, TheTableOfSendersIsBounded) {
    SenderRateLimit limit(1, std::chrono::seconds(1));
    const Clock::time_point t0{};
    EXPECT_TRUE(limit.allow(0, t0));
    for (uint32_t s = 1; s < 5 * SenderRateLimit::kMaxSenders; ++s) {
        limit.allow(s, t0 + milliseconds(1));
    }
    EXPECT_LE(limit.senders(), SenderRateLimit::kMaxSenders);
    // Later, the old windows have ended: room is made by dropping them.
    EXPECT_TRUE(limit.allow(0xffffffff, t0 + std::chrono::seconds(5)));
    EXPECT_LE(limit.senders(), SenderRateLimit::kMaxSenders);
    EXPECT_FALSE(limit.allow(0xffffffff, t0 + std::chrono::seconds(5)));
}

TEST(ProvisionLock, FollowsTheSettingsFileAsItChanges) {
    testsupport::SandboxBoard board;
    const std::string file = board.path(kSettingsPath);
    ::unlink(file.c_str());
    ProvisionLock lock(kSettingsPath);
    EXPECT_FALSE(lock.locked()) << "no file: unlocked";

    const struct {
        const char* text;
        bool locked;
    } steps[] = {
        {"[network]\nip=1.2.3.4\n", false},
        {"[security]\nhttpsOnly=1\nprovisionLock=1\n", true},
        {"[security]\nprovisionLock=0\n", false},
        {"[security]\nprovisionLock=2\n", true},  // anything but 0 locks
        {"[other]\nprovisionLock=1\n", false},
        {"[security]\nprovisionLock=1\r\n", true},
    };
    for (const auto& step : steps) {
        writeFile(file + ".new", step.text);
        ASSERT_EQ(::rename((file + ".new").c_str(), file.c_str()), 0);  // as the savers do
        EXPECT_EQ(lock.locked(), step.locked) << step.text;
        EXPECT_EQ(lock.locked(), step.locked) << step.text;
    }
    // Rewritten in place, with another size: seen too.
    writeFile(file, "[security]\nprovisionLock=0\n#\n");
    EXPECT_FALSE(lock.locked());
    ASSERT_EQ(::unlink(file.c_str()), 0);
    EXPECT_FALSE(lock.locked()) << "file gone: the default";
}

TEST(ProvisionLock, AnUnreadableFileKeepsTheState) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads every file";
    }
    testsupport::SandboxBoard board;
    const std::string file = board.path(kSettingsPath);
    writeFile(file, "[security]\nprovisionLock=1\n");
    ProvisionLock lock(kSettingsPath);
    ASSERT_TRUE(lock.locked());
    writeFile(file, "[security]\nprovisionLock=0\n\n");
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    EXPECT_TRUE(lock.locked());
}

TEST(DiscoveryResponder, CommandsThatChangeTheDevice) {
    for (const int16_t c : std::initializer_list<int16_t>{
             DEVICE_BROAD_SET_IP_REQ, DEVICE_NEW_SET_UID_REBOOT, DEVICE_NEW_SET_MAC,
             DEVICE_RANDOM_MAC_CMD, DEVICE_SYS_REBOOT_CMD, DEVICE_SYS_RESTORE_CMD}) {
        EXPECT_TRUE(DiscoveryResponder::changesDevice(c)) << c;
    }
    for (const int16_t c : std::initializer_list<int16_t>{
             DEVICE_SEARCH_REQ, DEVICE_ALIVE_REQ, QUERY_NEW_SET_MACUID, int16_t{10}, int16_t{-1}}) {
        EXPECT_FALSE(DiscoveryResponder::changesDevice(c)) << c;
    }
}

}  // namespace
