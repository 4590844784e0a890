// peerlo as a process on the wire, in a private network namespace with a sandbox board.
// The tool side is a socket in the peer namespace, or build/bin/peerlo-client.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "BoardPaths.h"
#include "DiscoveryPacket.h"
#include "MacText.h"
#include "PeerloHarness.h"
#include "RequestPackets.h"
#include "TestSupport.h"

using namespace discover;
using peerlo_test::Datagram;
using peerlo_test::PeerloHarness;
using peerlo_test::setIpRequest;
using peerlo_test::textRequest;
using testsupport::readFile;
using testsupport::writeFile;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

constexpr const char* kBroadcast = "255.255.255.255";

/// Datagrams of one kind that came in a row, and the seconds from a start to the last one.
struct Burst {
    size_t count = 0;
    double seconds = 0;
};

class PeerloProcess : public ::testing::Test {
protected:
    void SetUp() override {
        if (!h.ok()) {
            GTEST_SKIP() << h.reason();
        }
    }
    /// Writes the settings file (unless empty), then starts peerlo.
    bool startWith(const std::string& settings) {
        if (!settings.empty()) {
            writeFile(h.board().path(kSettingsPath), settings);
        }
        if (!h.start()) {
            ADD_FAILURE() << "peerlo did not start:\n" << h.output();
            return false;
        }
        h.board().clearBoardLog();
        return true;
    }
    /// The next datagram, which must come.
    Datagram next() {
        auto d = h.receive();
        if (!d) {
            ADD_FAILURE() << "no datagram; peerlo printed:\n" << h.output();
            return Datagram{};
        }
        return *d;
    }
    /// Sends an alive request and expects its reply to be the next datagram: so nothing
    /// was answered to what was sent before.
    void expectOnlyAliveReplyNext() {
        ASSERT_TRUE(h.send(makePacket(DEVICE_ALIVE_REQ)));
        const Datagram d = next();
        EXPECT_EQ(packetCommand(d.packet()), DEVICE_ALIVE_REPLY);
        EXPECT_EQ(d.packet().ack, 1);
    }
    /// Sends a search (by send) until it is answered, then checks the answer: one search is
    /// answered per 100 ms window, so one right after another may go unanswered.
    void expectSearchAnswered(const std::function<bool()>& send, const std::string& firstTo) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            ASSERT_TRUE(send());
            if (auto first = h.receive(milliseconds(300))) {
                expectSearchReplies(firstTo, &*first);
                return;
            }
        }
        ADD_FAILURE() << "search never answered; peerlo printed:\n" << h.output();
    }
    /// Counts the datagrams with the command that come until none has come for half a second.
    Burst collect(int16_t command, Clock::time_point start) {
        Burst burst;
        while (auto d = h.receive(milliseconds(500))) {
            if (packetCommand(d->packet()) == command) {
                ++burst.count;
                burst.seconds = std::chrono::duration<double>(Clock::now() - start).count();
            }
        }
        return burst;
    }
    void expectSearchReplies(const std::string& firstTo, const Datagram* received = nullptr) {
        const Datagram a = received != nullptr ? *received : next();
        const Datagram b = next();
        EXPECT_EQ(a.to, firstTo);
        EXPECT_EQ(b.to, kDiscoveryGroup);
        for (const Datagram& d : {a, b}) {
            EXPECT_EQ(d.bytes.size(), 200u);
            EXPECT_EQ(d.from, PeerloHarness::kDeviceIp);
            EXPECT_EQ(d.bytes.substr(0, 4), "MO_I");
            EXPECT_EQ(packetCommand(d.packet()), DEVICE_SEARCH_REPLY);
        }
    }

    PeerloHarness h;
};

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

}  // namespace

TEST_F(PeerloProcess, SearchIsAnsweredByBroadcastAndGroupWithTheDeviceRecord) {
    ASSERT_TRUE(
        startWith("\n[network]\nconnectionType=0\ndhcp=1\n"
                  "\n[master_protocol]\nhttpPort=8080\n"
                  "\n[system_infor]\ndeviceName=Hall encoder number 2\ndeviceType=4K\n"));
    writeFile(h.board().path(kUidPath), "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123\n");  // read at start

    ASSERT_TRUE(h.send(makePacket(DEVICE_SEARCH_REQ), kBroadcast));
    expectSearchReplies(kBroadcast);
    expectSearchAnswered([&] { return h.send(makePacket(DEVICE_SEARCH_REQ), kDiscoveryGroup); },
                         kBroadcast);

    // The record, as the tool reads it; the UID is the snapshot taken at start.
    std::string out;
    ASSERT_EQ(h.client("search --json --target " + std::string(PeerloHarness::kDeviceIp), &out), 0)
        << out;
    for (const char* field :
         {"\"name\":\t\"Hall encoder number\"", "\"ip\":\t\"192.168.77.10\"",
          "\"mask\":\t\"255.255.255.0\"", "\"gateway\":\t\"192.168.77.1\"",
          "\"dns\":\t\"114.114.114.114\"", "\"httpPort\":\t8080", "\"type\":\t\"4K\"",
          "\"dhcp\":\t\"1\"", "\"uid\":\t\"SANDBOX-0000000001\""}) {
        EXPECT_NE(out.find(field), std::string::npos) << field << "\n" << out;
    }
    const size_t mac = out.find("\"mac\":\t\"");
    ASSERT_NE(mac, std::string::npos);
    EXPECT_TRUE(peerlo_test::isMacText(out.substr(mac + 8, 17))) << out;
}

TEST_F(PeerloProcess, WaitsForAnAddressAndRetriesEveryFiveSeconds) {
    ASSERT_EQ(h.ipInside("addr flush dev eth0"), 0);
    ASSERT_TRUE(h.start(false));
    ASSERT_TRUE(h.waitForOutput("get ip error.\n")) << h.output();
    EXPECT_EQ(h.output().find("start device discover sever"), std::string::npos);
    ASSERT_EQ(h.ipInside("addr add 192.168.77.10/24 brd + dev eth0"), 0);
    ASSERT_EQ(h.ipInside("route add default via 192.168.77.1"), 0);
    ASSERT_TRUE(h.waitForOutput("get valid IP address :  192.168.77.10\n")) << h.output();
    ASSERT_TRUE(h.waitForOutput("start device discover sever\n")) << h.output();
    ASSERT_TRUE(h.send(makePacket(DEVICE_SEARCH_REQ)));
    expectSearchReplies(kBroadcast);
}

TEST_F(PeerloProcess, LteModeAnswersTheSenderDirectlyAndTheGroup) {
    ASSERT_TRUE(startWith("\n[network]\nconnectionType=2\n"));
    EXPECT_NE(h.output().find("4G LTE mode\n"), std::string::npos);
    ASSERT_TRUE(h.send(makePacket(DEVICE_SEARCH_REQ), kBroadcast));
    expectSearchReplies(PeerloHarness::kToolIp);
}

TEST_F(PeerloProcess, UnknownCommandsGetNoReply) {
    ASSERT_TRUE(startWith(""));
    ASSERT_TRUE(h.send(makePacket(10)));
    ASSERT_TRUE(h.send(makePacket(999)));
    ASSERT_TRUE(h.send(makePacket(-1)));
    expectOnlyAliveReplyNext();
}

TEST_F(PeerloProcess, EmptyOrShortDatagramActsAsSearch) {
    ASSERT_TRUE(startWith(""));
    ASSERT_TRUE(h.send("", 0));
    expectSearchReplies(kBroadcast);
    // After a full alive request, three bytes: the rest of the buffer must read as zero.
    expectOnlyAliveReplyNext();
    expectSearchAnswered([&] { return h.send("abc", 3); }, kBroadcast);
    expectSearchAnswered([&] { return h.send("MO_I\0", 5); }, kBroadcast);
}

// Anyone on the LAN can claim any source address, so what peerlo sends is bounded for the
// daemon as a whole: a hundred spoofed searches get one answer (broadcast and group) per
// 100 ms window, a flood of 6-byte alive requests at most 50 replies a second; then the
// tool finds the device again.
TEST_F(PeerloProcess, RepliesAreBoundedWhateverTheSenders) {
    ASSERT_TRUE(startWith(""));
    ASSERT_TRUE(h.send(makePacket(DEVICE_SEARCH_REQ)));  // the two sides know each other now
    expectSearchReplies(kBroadcast);

    const Clock::time_point searchStart = Clock::now();
    for (int i = 1; i <= 100; ++i) {
        ASSERT_TRUE(h.sendSpoofed("10.66.0." + std::to_string(i), "", 0));
    }
    const Burst searches = collect(DEVICE_SEARCH_REPLY, searchStart);
    EXPECT_LE(searches.count, 2 * (1 + static_cast<size_t>(searches.seconds * 10)))
        << searches.count << " search replies in " << searches.seconds << " s";

    const Clock::time_point aliveStart = Clock::now();
    const DiscoveryPacket alive = makePacket(DEVICE_ALIVE_REQ);
    for (int i = 0; i < 150; ++i) {
        ASSERT_TRUE(h.send(&alive, 6));
    }
    const Burst replies = collect(DEVICE_ALIVE_REPLY, aliveStart);
    EXPECT_GE(replies.count, 1u);
    EXPECT_LE(replies.count, 50 * (1 + static_cast<size_t>(replies.seconds)))
        << replies.count << " alive replies in " << replies.seconds << " s";
    EXPECT_EQ(count(h.output(), "reply limit: at most 50 datagrams a second"), 1u) << h.output();

    // Once the second is over, answered again.
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return h.send(alive) && h.receive(milliseconds(200)).has_value(); },
        std::chrono::seconds(10)));
    std::string out;
    ASSERT_EQ(h.client("search --timeout 1", &out), 0) << out;
    EXPECT_NE(out.find(" 192.168.77.10 "), std::string::npos) << out;
}

// Texts from requests are printed escaped before anything checks them: no request can add
// a line of its own to peerlo.log ("provisioning locked", "set OK, reboot now.") or send
// escape sequences to a terminal.
TEST_F(PeerloProcess, RequestTextsArePrintedEscaped) {
    ASSERT_TRUE(startWith(""));
    const std::string forged = "x\nprovisioning locked\nset OK, reboot now.\r\n\x1b[2J\\n";
    ASSERT_TRUE(h.send(textRequest(DEVICE_NEW_SET_UID_REBOOT, forged, 1)));
    ASSERT_TRUE(h.send(textRequest(DEVICE_NEW_SET_MAC, forged, 1)));
    ASSERT_TRUE(h.send(setIpRequest("\x1b]0;pwned\x07", "1\nset OK, reboo")));
    EXPECT_EQ(packetCommand(next().packet()), DEVICE_NEW_SET_MAC_REPLY);
    expectOnlyAliveReplyNext();
    const std::string out = h.output();
    for (const std::string& line : testsupport::splitLines(out)) {
        EXPECT_NE(line, "provisioning locked");
        EXPECT_NE(line.rfind("set OK", 0), 0u) << line;
    }
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
    EXPECT_EQ(count(out,
                    "len:1---x\\nprovisioning locked\\nset OK, reboot now.\\r\\n"
                    "\\x1b[2J\\\\n\n"),
              2u)
        << out;
    EXPECT_NE(out.find("orig ip:\\x1b]0;pwned\\x07, set ip:1\\nset OK, reboo\n"), std::string::npos)
        << out;
}

TEST_F(PeerloProcess, SetIpSavesTheNetworkKeysRepliesAndReboots) {
    ASSERT_TRUE(startWith("\n[network]\nconnectionType=1\ndhcp=0\nip=192.168.1.230\n"));
    ASSERT_TRUE(h.send(setIpRequest(PeerloHarness::kDeviceIp, "10.0.0.5"), kBroadcast));
    const Datagram d = next();
    EXPECT_EQ(packetCommand(d.packet()), DEVICE_BROAD_SET_IP_REPLY);
    EXPECT_EQ(d.packet().ack, 1);
    EXPECT_EQ(packetLength(d.packet()), 86);
    EXPECT_EQ(d.to, PeerloHarness::kToolIp);
    ASSERT_TRUE(h.waitForBoardLine("/sbin/reboot")) << h.output();
    EXPECT_EQ(h.board().boardLog(), (std::vector<std::string>{"sync", "/sbin/reboot"}));
    EXPECT_EQ(readFile(h.board().path(kSettingsPath)),
              "\n[network]\nconnectionType=0\ndhcp=0\nip=10.0.0.5\n"
              "mask=255.255.0.0\ngate=10.0.0.1\ndns0=8.8.8.8\n");
}

TEST_F(PeerloProcess, InvalidOrMalformedSetIpIsRefusedWithoutSaving) {
    const std::string before = "\n[network]\nip=192.168.77.10\n";
    ASSERT_TRUE(startWith(before));
    ASSERT_TRUE(h.send(setIpRequest(PeerloHarness::kDeviceIp, "1.2.3.4")));
    ASSERT_TRUE(h.send(setIpRequest(PeerloHarness::kDeviceIp, "10.0.0.5\n[x]\ny=z")));
    ASSERT_TRUE(h.send(setIpRequest(PeerloHarness::kDeviceIp, "10.0.0.5", "255.255.255.0 x")));
    ASSERT_TRUE(h.send(setIpRequest("192.168.77.99", "10.0.0.5")));
    expectOnlyAliveReplyNext();
    EXPECT_EQ(count(h.output(), "invalid IP\n"), 4u) << h.output();
    EXPECT_EQ(readFile(h.board().path(kSettingsPath)), before);
    EXPECT_TRUE(h.board().boardLog().empty());
}

// What the command stores is checked on the provisioner; here, that it runs without a reply.
TEST_F(PeerloProcess, RandomMacRebootsWithoutAReply) {
    ASSERT_TRUE(startWith("\n[network]\nconnectionType=1\ndhcp=0\n"));
    ASSERT_TRUE(h.send(makePacket(DEVICE_RANDOM_MAC_CMD)));
    ASSERT_TRUE(h.waitForBoardLine("/sbin/reboot")) << h.output();
    EXPECT_EQ(h.board().boardLog().size(), 3u);
    EXPECT_EQ(readFile(h.board().path(kSettingsPath)), "\n[network]\nconnectionType=0\ndhcp=1\n");
    expectOnlyAliveReplyNext();  // no reply of its own, and still answering
}

TEST_F(PeerloProcess, ClientFindsTheDeviceAndDrivesRebootAndRestore) {
    ASSERT_TRUE(startWith("\n[system_infor]\ndeviceName=Bench\n"));
    std::string out;
    ASSERT_EQ(h.client("search --timeout 1", &out), 0) << out;
    const auto lines = testsupport::splitLines(out);
    ASSERT_EQ(lines.size(), 2u) << out;  // header and one device, however often it answered
    EXPECT_EQ(lines[0].rfind("NAME", 0), 0u);
    EXPECT_EQ(lines[1].rfind("Bench  ", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find(" 192.168.77.10 "), std::string::npos);
    EXPECT_NE(lines[1].find(" SANDBOX-0000000001 "), std::string::npos);

    ASSERT_EQ(h.client("alive --timeout 1", &out), 0) << out;
    EXPECT_EQ(out, "192.168.77.10: reply 166, ack 1 (alive)\n");

    EXPECT_EQ(h.client("reboot", &out), 2) << "a reboot of every device needs --broadcast";
    ASSERT_EQ(h.client("reboot --target 192.168.77.10", &out), 0) << out;
    ASSERT_TRUE(h.waitForBoardLine("/sbin/reboot")) << h.output();
    EXPECT_EQ(h.board().boardLog(), (std::vector<std::string>{"/bin/sync", "/sbin/reboot"}));
    EXPECT_NE(h.output().find("DEVICE_SYS_REBOOT_CMD !! sleep(1) 3 times!!\n"), std::string::npos);

    h.board().clearBoardLog();
    writeFile(h.board().path(kFactorySettingsPath), "[network]\n");
    ASSERT_EQ(h.client("restore --broadcast", &out), 0) << out;
    ASSERT_TRUE(h.waitForBoardLine("reboot")) << h.output();
    EXPECT_FALSE(testsupport::fileExists(h.board().path(kFactorySettingsPath)));
    EXPECT_NE(h.output().find("mtd erase OK:/dev/mtd9\n"), std::string::npos) << h.output();
}

// The UID commands on the wire through the client; what is refused is checked on the
// provisioner and the request parser.
TEST_F(PeerloProcess, ClientSetsUidAndQueriesAnswer156Then0) {
    ASSERT_TRUE(startWith(""));
    std::string out;
    EXPECT_EQ(h.client("set-uid 'x;y' --target 192.168.77.10 --timeout 0.3", &out), 1) << out;
    ASSERT_EQ(h.client("query-uid --target 192.168.77.10", &out), 0) << out;
    EXPECT_EQ(out, "192.168.77.10: reply 0, ack 1 (no UID stored since the last query)\n");
    EXPECT_TRUE(h.board().boardLog().empty());

    ASSERT_EQ(h.client("set-uid DEV-42 --target 192.168.77.10", &out), 0) << out;
    EXPECT_EQ(out, "192.168.77.10: reply 156, ack 1 (UID stored)\n");
    EXPECT_EQ(h.board().boardLog(),
              (std::vector<std::string>{"/usr/sbin/nvram_set boot UID DEV-42",
                                        "/usr/sbin/nvram_get boot UID > /tmp/uid.txt"}));
    ASSERT_EQ(h.client("query-uid --target 192.168.77.10", &out), 0) << out;
    EXPECT_EQ(out, "192.168.77.10: reply 156, ack 1 (UID stored)\n");
    ASSERT_EQ(h.client("query-uid --target 192.168.77.10", &out), 0) << out;
    EXPECT_EQ(out, "192.168.77.10: reply 0, ack 1 (no UID stored since the last query)\n");
    EXPECT_EQ(readFile(h.board().path(kUidPath)), "DEV-42\n");
}

// Locked from the web pages: still found and alive, but every changing command is dropped
// without a word on the wire, and printed once per sender and minute. Unlocking takes effect
// without a restart.
TEST_F(PeerloProcess, ProvisionLockIgnoresChangingCommandsUntilTheFileUnlocks) {
    const std::string locked = "\n[network]\nip=192.168.77.10\n\n[security]\nprovisionLock=1\n";
    ASSERT_TRUE(startWith(locked));
    EXPECT_NE(h.output().find("provisioning locked\n"), std::string::npos) << h.output();
    ASSERT_TRUE(h.send(makePacket(DEVICE_SEARCH_REQ), kBroadcast));
    expectSearchReplies(kBroadcast);

    const DiscoveryPacket uid = textRequest(DEVICE_NEW_SET_UID_REBOOT, "DEV-42", 6);
    for (const DiscoveryPacket& p :
         {setIpRequest(PeerloHarness::kDeviceIp, "10.0.0.5"), uid, makePacket(DEVICE_NEW_SET_MAC),
          makePacket(DEVICE_RANDOM_MAC_CMD), makePacket(DEVICE_SYS_REBOOT_CMD),
          makePacket(DEVICE_SYS_RESTORE_CMD)}) {
        ASSERT_TRUE(h.send(p));
    }
    expectOnlyAliveReplyNext();
    EXPECT_TRUE(h.board().boardLog().empty()) << h.output();
    EXPECT_EQ(readFile(h.board().path(kSettingsPath)), locked);
    EXPECT_EQ(count(h.output(), "provisioning locked: command"), 1u) << h.output();
    EXPECT_EQ(count(h.output(), "from 192.168.77.1 ignored\n"), 1u) << h.output();

    // The web server replaces the file whole; the next request sees the new state.
    writeFile(h.board().path(kSettingsPath) + ".new",
              "\n[network]\nip=192.168.77.10\n\n[security]\nprovisionLock=0\n");
    ASSERT_EQ(::rename((h.board().path(kSettingsPath) + ".new").c_str(),
                       h.board().path(kSettingsPath).c_str()),
              0);
    ASSERT_TRUE(h.send(uid));
    const Datagram d = next();
    EXPECT_EQ(packetCommand(d.packet()), DEVICE_NEW_SET_UID_REPLY);
    EXPECT_NE(h.output().find("provisioning unlocked\n"), std::string::npos) << h.output();
}

TEST(PeerloCommandLine, UsageAndModesThatDoNotStartTheResponder) {
    testsupport::SandboxBoard board;  // nothing may touch the real board
    std::string out;
    const std::string peerlo = testsupport::programPath("peerlo");
    EXPECT_EQ(testsupport::shell(peerlo + " 2>&1", &out), 255);
    EXPECT_EQ(out, "usage ./peerlo 0 or 1\n");
    for (const char* mode : {"0", "3", "x", "-1"}) {
        out.clear();
        EXPECT_EQ(testsupport::shell(peerlo + " " + mode + " 2>&1", &out), 0) << mode;
        EXPECT_EQ(out, "") << mode;
    }
}

TEST(PeerloClientCommandLine, HelpAndUsageErrors) {
    std::string out;
    const std::string client = testsupport::programPath("peerlo-client");
    EXPECT_EQ(testsupport::shell(client + " --help", &out), 0);
    EXPECT_NE(out.find("usage: peerlo-client COMMAND"), std::string::npos);
    for (const char* args : {"", "frobnicate", "set-uid", "set-ip 1.2.3.4", "search --port 0",
                             "restore", "search --bogus"}) {
        EXPECT_EQ(testsupport::shell(client + " " + args + " 2>/dev/null"), 2) << args;
    }
}
