// Provisioning commands against a sandbox board, without a network: settings, board
// commands (board.log), boot variables and flash.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "BoardPaths.h"
#include "DiscoveryPacket.h"
#include "EncoderConfigFile.h"
#include "FlashEraser.h"
#include "MacText.h"
#include "Provisioner.h"
#include "RequestPackets.h"
#include "TestSupport.h"

using namespace discover;
using testsupport::fileExists;
using testsupport::readFile;
using testsupport::writeFile;
using Lines = std::vector<std::string>;
using peerlo_test::setIpRequest;
using peerlo_test::textRequest;

namespace {

constexpr const char* kDeviceIp = "192.168.1.230";

// A hand-kept settings file: header comment, comments, keys and a section peerlo knows
// nothing about. A save may only change the keys the command sets.
const char* const kSettings =
    "# encoder settings\n"
    "\n[network]\n"
    "connectionType=1\n"
    "dhcp=0\n"
    "# the wired address\n"
    "ip=192.168.1.230\n"
    "mask=255.255.255.0\n"
    "gate=192.168.1.1\n"
    "dns0=114.114.114.114\n"
    "dns1=192.168.1.1\n"
    "mac=44:03:2c:56:79:40\n"
    "\n[custom]\n"
    "; kept as is\n"
    "vendorKey=a=b = c\n"
    "\n[system_infor]\n"
    "deviceName=Hall encoder\n";

class ProvisionerTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(settingsFile(), kSettings);
        board.clearBoardLog();
    }
    std::string settingsFile() const { return board.path(kSettingsPath); }

    testsupport::SandboxBoard board;
    std::vector<unsigned> sleeps;
    Provisioner provisioner{kDeviceIp, [this](unsigned s) { sleeps.push_back(s); }};
};

}  // namespace

TEST_F(ProvisionerTest, SetIpSavesOnlyTheNetworkKeysAndRebootsAfterTheReply) {
    const auto reply = provisioner.setIp(
        setIpRequest(kDeviceIp, "10.0.0.5", "255.255.0.0", "10.0.0.1", "8.8.8.8", 1));
    ASSERT_TRUE(reply);
    EXPECT_EQ(packetCommand(*reply), DEVICE_BROAD_SET_IP_REPLY);
    EXPECT_EQ(reply->ack, 1);
    EXPECT_EQ(packetLength(*reply), 86);
    const std::string expected =
        "# encoder settings\n"
        "\n[network]\n"
        "connectionType=0\n"
        "dhcp=1\n"
        "# the wired address\n"
        "ip=10.0.0.5\n"
        "mask=255.255.0.0\n"
        "gate=10.0.0.1\n"
        "dns0=8.8.8.8\n"
        "dns1=192.168.1.1\n"
        "mac=44:03:2c:56:79:40\n"
        "\n[custom]\n"
        "; kept as is\n"
        "vendorKey=a=b = c\n"
        "\n[system_infor]\n"
        "deviceName=Hall encoder\n";
    EXPECT_EQ(readFile(settingsFile()), expected);
    EXPECT_TRUE(board.boardLog().empty()) << "no reboot before the reply went out";

    provisioner.rebootAfterSetIp();
    EXPECT_EQ(board.boardLog(), (Lines{"sync", "/sbin/reboot"}));
    EXPECT_EQ(sleeps, std::vector<unsigned>{1});
}

TEST_F(ProvisionerTest, SetIpRefusesRequestsNotForUsOrWithInvalidAddresses) {
    const struct {
        const char* why;
        DiscoveryPacket request;
    } cases[] = {
        {"other device", setIpRequest("192.168.1.231", "10.0.0.5")},
        {"seven characters", setIpRequest(kDeviceIp, "1.2.3.4")},
        {"group above 255", setIpRequest(kDeviceIp, "10.0.0.256")},
        {"shell text", setIpRequest(kDeviceIp, "10.0.0.5;reboot")},
        {"text in the mask", setIpRequest(kDeviceIp, "10.0.0.5", "255.255.x.0")},
        {"empty gateway", setIpRequest(kDeviceIp, "10.0.0.5", "255.0.0.0", "")},
        {"five groups of dns",
         setIpRequest(kDeviceIp, "10.0.0.5", "255.0.0.0", "10.0.0.1", "8.8.8.8.8")},
        {"newline in dns",
         setIpRequest(kDeviceIp, "10.0.0.5", "255.0.0.0", "10.0.0.1", "8.8.8.8\n[x]")},
        {"empty group", setIpRequest(kDeviceIp, "10.0.0..5")},
        {"no fourth group", setIpRequest(kDeviceIp, "10.0.0.5", "255.255.255.")},
        {"leading zeros", setIpRequest(kDeviceIp, "010.001.001.010")},
        {"octal dns", setIpRequest(kDeviceIp, "10.0.0.5", "255.0.0.0", "10.0.0.1", "010.0.0.1")},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(provisioner.setIp(c.request)) << c.why;
    }
    // A new address filling its field has no terminator: it runs into nothing else.
    DiscoveryPacket unterminated = setIpRequest(kDeviceIp, "10.0.0.5");
    std::memset(unterminated.payload + 17, '1', 17);
    EXPECT_FALSE(provisioner.setIp(unterminated));

    EXPECT_EQ(readFile(settingsFile()), kSettings);
    EXPECT_TRUE(board.boardLog().empty());
}

TEST_F(ProvisionerTest, SetIpIsNotAcknowledgedWhenTheSettingsCannotBeSaved) {
    ::unlink(settingsFile().c_str());
    ASSERT_EQ(::mkdir(settingsFile().c_str(), 0755), 0);  // a directory cannot be replaced
    EXPECT_FALSE(provisioner.setIp(setIpRequest(kDeviceIp, "10.0.0.5")));
}

TEST_F(ProvisionerTest, SetIpWithoutSettingsFileStartsOne) {
    ::unlink(settingsFile().c_str());
    ASSERT_TRUE(provisioner.setIp(setIpRequest(kDeviceIp, "10.0.0.5")));
    EXPECT_EQ(readFile(settingsFile()),
              "\n[network]\nip=10.0.0.5\nmask=255.255.0.0\ngate=10.0.0.1\ndns0=8.8.8.8\n"
              "dhcp=0\nconnectionType=0\n");
}

// The settings file holds the web password; peerlo's save must not open it to everyone.
TEST_F(ProvisionerTest, SavedSettingsAreReadableByTheirOwnerOnly) {
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0644), 0);
    ASSERT_TRUE(provisioner.setIp(setIpRequest(kDeviceIp, "10.0.0.5")));
    struct stat st {};
    ASSERT_EQ(::stat(settingsFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(ProvisionerTest, SetUidStoresItAndQueriesAnswer156Then0) {
    const auto reply =
        provisioner.setUid(textRequest(DEVICE_NEW_SET_UID_REBOOT, "ABC-123_x.9", 11));
    ASSERT_TRUE(reply);
    EXPECT_EQ(packetCommand(*reply), DEVICE_NEW_SET_UID_REPLY);
    EXPECT_EQ(reply->ack, 1);
    EXPECT_EQ(packetLength(*reply), 11);
    EXPECT_EQ(payloadText(*reply), "");
    EXPECT_EQ(board.boardLog(), (Lines{"/usr/sbin/nvram_set boot UID ABC-123_x.9",
                                       "/usr/sbin/nvram_get boot UID > /tmp/uid.txt"}));
    EXPECT_EQ(readFile(board.path(kUidPath)), "ABC-123_x.9\n");
    EXPECT_TRUE(sleeps.empty()) << "no reboot follows";

    EXPECT_EQ(packetCommand(provisioner.queryMacUid()), DEVICE_NEW_SET_UID_REPLY);
    const DiscoveryPacket second = provisioner.queryMacUid();
    EXPECT_EQ(packetCommand(second), 0);
    EXPECT_EQ(second.ack, 1);
}

TEST_F(ProvisionerTest, SetUidIgnoresEmptyShortAndUnsafePayloads) {
    const std::string original = readFile(board.path(kUidPath));
    const std::pair<std::string, int32_t> cases[] = {
        {"", 0},
        {"ABCDEF", 10},  // shorter than its length field
        {"A;reboot", 8},
        {"$(touch /tmp/pwned)", 19},
        {"A B", 3},
        {std::string(33, 'U'), 33},
        {std::string(176, 'U'), 176},  // fills the payload, no terminator
    };
    for (const auto& [text, length] : cases) {
        EXPECT_FALSE(provisioner.setUid(textRequest(DEVICE_NEW_SET_UID_REBOOT, text, length)))
            << text;
    }
    EXPECT_TRUE(board.boardLog().empty());
    EXPECT_EQ(readFile(board.path(kUidPath)), original);
    EXPECT_EQ(provisioner.lastCommand(), 0);
    EXPECT_EQ(packetCommand(provisioner.queryMacUid()), 0);
}

TEST_F(ProvisionerTest, SetMacIsAcknowledgedAndChangesNothing) {
    const DiscoveryPacket reply =
        provisioner.setMac(textRequest(DEVICE_NEW_SET_MAC, "62:00:00:00:00:01", 17), "10.0.0.9");
    EXPECT_EQ(packetCommand(reply), DEVICE_NEW_SET_MAC_REPLY);
    EXPECT_EQ(reply.ack, 1);
    EXPECT_EQ(packetLength(reply), 17);
    EXPECT_TRUE(board.boardLog().empty());
    EXPECT_EQ(packetCommand(provisioner.queryMacUid()), 0) << "set-MAC is not remembered";
}

TEST_F(ProvisionerTest, RandomMacSwitchesToWiredDhcpSetsEthaddrAndReboots) {
    provisioner.randomMac();
    const Lines log = board.boardLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "sync");
    const std::string prefix = "/usr/sbin/nvram_set boot ethaddr ";
    EXPECT_EQ(log[1].compare(0, prefix.size(), prefix), 0) << log[1];
    EXPECT_TRUE(peerlo_test::isRandomMac(log[1].substr(prefix.size()))) << log[1];
    EXPECT_EQ(log[2], "/sbin/reboot");
    EXPECT_EQ(sleeps, std::vector<unsigned>{3});
    const std::string mac = log[1].substr(log[1].rfind(' ') + 1);
    EXPECT_NE(readFile(board.path("/var/lib/nvram/boot")).find("ethaddr=" + mac + "\n"),
              std::string::npos);
    const std::string settings = readFile(settingsFile());
    EXPECT_NE(settings.find("[network]\nconnectionType=0\ndhcp=1\n# the wired address\n"
                            "ip=192.168.1.230\n"),
              std::string::npos)
        << settings;
    EXPECT_NE(settings.find("[custom]\n; kept as is\nvendorKey=a=b = c\n"), std::string::npos);
}

TEST_F(ProvisionerTest, RebootSyncsWaitsThreeSecondsAndReboots) {
    provisioner.reboot();
    EXPECT_EQ(board.boardLog(), (Lines{"/bin/sync", "/sbin/reboot"}));
    EXPECT_EQ(sleeps, (std::vector<unsigned>{1, 1, 1}));
}

TEST_F(ProvisionerTest, RestoreDropsFactorySettingsErasesFlashRestoresProgramsAndReboots) {
    writeFile(board.path(kFactorySettingsPath), "[network]\n");
    writeFile(board.path("/customer/app_back/korrin"), "korrin backup");
    writeFile(board.path("/customer/app_back/tessel"), "tessel backup");
    const std::string flash = board.path(kUserDataFlash);
    const size_t flashSize = readFile(flash).size();
    {
        FILE* f = std::fopen(flash.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::fputs("user data", f);
        std::fseek(f, static_cast<long>(flashSize - 4), SEEK_SET);
        std::fputs("tail", f);
        std::fclose(f);
    }

    provisioner.restore();

    EXPECT_FALSE(fileExists(board.path(kFactorySettingsPath)));
    EXPECT_EQ(readFile(flash), std::string(flashSize, '\xff'));
    EXPECT_EQ(board.boardLog(),
              (Lines{"cp /etc/fs-version /customer/", "cp /customer/app_back/korrin /customer/",
                     "cp /customer/app_back/tessel /customer/", "sync", "reboot"}));
    EXPECT_EQ(readFile(board.path("/customer/korrin")), "korrin backup");
    EXPECT_EQ(readFile(board.path("/customer/fs-version")),
              readFile(board.path("/etc/fs-version")));
}

TEST(FlashEraser, FailuresAreReportedAndStopTheErase) {
    testsupport::SandboxBoard board;
    EXPECT_EQ(FlashEraser::erase("/dev/mtd42"), -1);  // no such partition

    // A partition that is not a whole number of erase blocks fails at its last block, after
    // the whole blocks were erased.
    const std::string odd = board.path("/dev/mtd8");
    writeFile(odd, std::string(65536 + 100, 'x'));
    EXPECT_EQ(FlashEraser::erase("/dev/mtd8"), -1);
    EXPECT_EQ(readFile(odd), std::string(65536, '\xff') + std::string(100, 'x'));

    writeFile(odd, "");
    EXPECT_EQ(FlashEraser::erase("/dev/mtd8"), 0);
}

// peerlo's set-IP and the web server's setters write the same file; each takes the
// settings file's lock for its read-change-write turn, so neither undoes the other's keys.
// Each writer counts up its own value; any reading after a write must show at least the
// last value the other writer stored.
TEST_F(ProvisionerTest, ConcurrentSavesOfPeerloAndTheWebServerLoseNoKey) {
    constexpr int kTurns = 60;
    std::atomic<int> lastIp{0};
    std::atomic<int> lastGain{0};
    const std::string path = settingsFile();
    const auto check = [&] {
        // The minimums first: a value stored after the reading may not count against it.
        const int minIp = lastIp.load();
        const int minGain = lastGain.load();
        enc::EncoderConfigFile now;
        ASSERT_TRUE(now.load(path));
        const int ipTurn = std::atoi(now.network.ip.substr(now.network.ip.rfind('.') + 1).c_str());
        if ((minIp > 0 && ipTurn < minIp) || now.audio.gain < minGain ||
            readFile(path).find("vendorKey=a=b = c") == std::string::npos) {
            ADD_FAILURE() << "ip turn " << ipTurn << " after " << minIp << ", gain "
                          << now.audio.gain << " after " << minGain << "\n"
                          << readFile(path);
        }
    };
    std::thread web([&] {
        enc::EncoderConfigFile settings;
        for (int turn = 1; turn <= kTurns; ++turn) {
            ASSERT_TRUE(
                settings.update(path, {&settings.audio}, [&] { settings.audio.gain = turn; }));
            lastGain = turn;
            check();
        }
    });
    for (int turn = 1; turn <= kTurns; ++turn) {
        const std::string ip = "10.0.0." + std::to_string(turn);
        ASSERT_TRUE(provisioner.setIp(
            setIpRequest(kDeviceIp, ip.c_str(), "255.255.0.0", "10.0.0.254", "8.8.8.8", 1)));
        lastIp = turn;
        check();
    }
    web.join();
    enc::EncoderConfigFile last;
    ASSERT_TRUE(last.load(path));
    EXPECT_EQ(last.network.ip, "10.0.0." + std::to_string(kTurns));
    EXPECT_EQ(last.audio.gain, kTurns);
}
