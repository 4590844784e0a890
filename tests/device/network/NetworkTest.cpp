// Network configuration: the query helpers, the boot modes (logged in the sandbox, applied
// inside a private network namespace) and the Wi-Fi client files.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DeviceFixture.h"
#include "NetModes.h"
#include "NetQuery.h"
#include "WifiClientFile.h"

namespace {

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::SandboxBoard;
using testsupport::writeFile;

uint32_t addr(const char* text) {
    in_addr in{};
    EXPECT_EQ(::inet_pton(AF_INET, text, &in), 1) << text;
    return in.s_addr;
}

TEST(NetQuery, NameServerByPosition) {
    testsupport::TempDir dir;
    const std::string two = dir.file("two");
    writeFile(two, "search domain\nnameserver 10.0.0.53\nnameserver 10.0.0.54\n");
    EXPECT_EQ(enc::getNameServer(two, 0), addr("10.0.0.53"));
    EXPECT_EQ(enc::getNameServer(two, 1), addr("10.0.0.54"));
    EXPECT_EQ(enc::getNameServer(two, 5), addr("10.0.0.54"));  // fewer: the last

    const std::string one = dir.file("one");
    writeFile(one, "nameserver 8.8.4.4\n");
    EXPECT_EQ(enc::getNameServer(one, 1), addr("8.8.4.4"));

    const std::string searchOnly = dir.file("search");
    writeFile(searchOnly, "search domain\nns\n");
    EXPECT_EQ(enc::getNameServer(searchOnly, 0), addr("114.114.114.114"));

    EXPECT_EQ(enc::getNameServer(dir.file("missing"), 0), enc::kNoAddress);
}

TEST(NetQuery, DefaultGatewayFromTheRouteTable) {
    SandboxBoard board;
    const std::string table = board.path("/proc/net/route");
    const std::string header =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    ::unlink(table.c_str());
    EXPECT_EQ(enc::getDefaultGateway(), 0u);  // no table

    // Gateways are in the kernel's byte order: 0102A8C0 is 192.168.2.1.
    writeFile(table, header +
                         "eth0\t0002A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
                         "eth0\t00000000\t0102A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"
                         "eth0\t00000000\t0202A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
    EXPECT_EQ(enc::getDefaultGateway(), addr("192.168.2.2"));  // the first that is up

    writeFile(table, header + "eth0\t0A02A8C0\t0302A8C0\t0007\t0\t0\t0\tFFFFFFFF\t0\t0\t0\n");
    EXPECT_EQ(enc::getDefaultGateway(), addr("192.168.2.10"));  // host route: destination

    writeFile(table, header + "eth0\t0002A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n");
    EXPECT_EQ(enc::getDefaultGateway(), 0u);
}

TEST(NetQuery, FailedInterfaceQueriesGiveAllOnes) {
    EXPECT_EQ(enc::getInterfaceAddress("no-such-if0"), enc::kNoAddress);
    EXPECT_EQ(enc::getInterfaceNetmask(""), enc::kNoAddress);
    std::string mac = "unchanged";
    EXPECT_EQ(enc::getInterfaceMac("no-such-if0", mac), -1);
    EXPECT_EQ(mac, "unchanged");
    EXPECT_EQ(enc::ipv4Text(enc::kNoAddress), "255.255.255.255");
}

class NetModeTest : public ::testing::Test {
protected:
    std::string settings() const { return board.path("/mnt/config/encoder.ini"); }
    std::vector<std::string> netLines() const {
        std::vector<std::string> lines;
        for (const auto& l : board.boardLog()) {
            if (l.rfind("ioctl ", 0) == 0) {
                lines.push_back(l);
            }
        }
        return lines;
    }
    static std::string activeName() {
        std::string name;
        enc::getActiveInterface(name);
        return name;
    }

    SandboxBoard board;
    testsupport::ScopedEnv noApply{"BOARD_NET", nullptr};
};

// Which keys each connection type takes, what is logged in the sandbox, and which name
// servers reach the resolver file: a seven-character dns0 is written, a seven-character dns1
// is not; short or malformed texts are not applied at all.
TEST_F(NetModeTest, StaticAddressesAreLoggedAndTheResolverRewritten) {
    const std::string name = activeName();
    const std::string before = readFile(board.path("/etc/resolv.conf"));
    const struct {
        const char* settings;
        std::vector<std::string> ioctls;
        std::string resolver;  // "": unchanged
    } cases[] = {
        {"[network]\nip=1.2.3\nmask=0.0.0\ngate=10.1.2.300\ndns0=1.2.3\n", {}, ""},
        {"[network]\nconnectionType=0\ndhcp=0\nip=10.1.2.3\nmask=255.255.255.0\n"
         "gate=10.1.2.1\ndns0=1.2.3.4\ndns1=8.8.8.8\n[wifi]\nip=10.9.9.9\n",
         {"ioctl SIOCSIFADDR " + name + " 10.1.2.3",
          "ioctl SIOCSIFNETMASK " + name + " 255.255.255.0", "ioctl SIOCDELRT default gw 10.1.2.1",
          "ioctl SIOCADDRT default gw 10.1.2.1"},
         "nameserver 1.2.3.4\n"},
        {"[network]\ndns0=10.0.0.53\ndns1=10.0.0.54\n",
         {},
         "nameserver 10.0.0.53\nnameserver 10.0.0.54\n"},
        // Leading zeros, saved before they were refused: glibc would read octal.
        {"[network]\ndns0=010.010.010.010\ndns1=8.8.8.8\n", {}, ""},
        {"[network]\ndns0=10.0.0.53\ndns1=010.0.0.54\n", {}, "nameserver 10.0.0.53\n"},
        {"[network]\nconnectionType=1\nip=10.1.2.3\nmask=255.255.255.0\n"
         "[wifi]\nip=10.7.7.7\nmask=255.255.0.0\n",
         {"ioctl SIOCSIFADDR " + name + " 10.7.7.7",
          "ioctl SIOCSIFNETMASK " + name + " 255.255.0.0"},
         ""},
        {"[network]\nconnectionType=2\nip=10.1.2.3\n[wifi]\nip=10.7.7.7\n",
         {"ioctl SIOCSIFADDR " + name + " 10.1.2.3"},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        writeFile(settings(), c.settings);
        writeFile(board.path("/etc/resolv.conf"), before);
        board.clearBoardLog();
        ASSERT_EQ(enc::SetNetInterface(settings()), 0);
        EXPECT_EQ(netLines(), c.ioctls);
        EXPECT_EQ(readFile(board.path("/etc/resolv.conf")),
                  c.resolver.empty() ? before : c.resolver);
    }
}

TEST_F(NetModeTest, DhcpStartsTheClientOnTheActiveInterface) {
    writeFile(settings(), "[network]\ndhcp=1\nip=10.1.2.3\n");
    board.clearBoardLog();
    ASSERT_EQ(enc::SetNetInterface(settings()), 0);
    EXPECT_EQ(board.boardLog(),
              (std::vector<std::string>{"killall -9 udhcpc",
                                        "/sbin/udhcpc -i " + activeName() + " -b -R"}));
}

TEST_F(NetModeTest, MissingSettingsFileEndsBothModes) {
    board.clearBoardLog();
    EXPECT_EQ(enc::SetNetInterface(board.path("/mnt/config/none.ini")), -1);
    EXPECT_EQ(enc::generate_wifi_conf(board.path("/mnt/config/none.ini")), -1);
    EXPECT_TRUE(board.boardLog().empty());
}

TEST_F(NetModeTest, UnwritableResolverFailsTheMode) {
    writeFile(settings(), "[network]\ndns0=10.0.0.53\n");
    ::unlink(board.path("/etc/resolv.conf").c_str());
    ASSERT_EQ(::mkdir(board.path("/etc/resolv.conf").c_str(), 0755), 0);
    EXPECT_EQ(enc::SetNetInterface(settings()), -1);
}

TEST_F(NetModeTest, WifiBootModeCopiesThePreparedFile) {
    writeFile(board.path("/mnt/config/wifi_conf_key.conf"), "with key\n");
    writeFile(board.path("/mnt/config/wifi_conf_nokey.conf"), "open\n");
    writeFile(settings(), "[network]\nconnectionType=1\n[wifi]\nencrypt=1\n");
    board.clearBoardLog();
    ASSERT_EQ(enc::generate_wifi_conf(settings()), 0);
    EXPECT_EQ(readFile(board.path("/var/wifi.conf")), "with key\n");
    EXPECT_EQ(board.boardLog(),
              std::vector<std::string>{"cp /mnt/config/wifi_conf_key.conf  /var/wifi.conf"});

    writeFile(settings(), "[network]\nconnectionType=1\n[wifi]\nencrypt=0\n");
    board.clearBoardLog();
    ASSERT_EQ(enc::generate_wifi_conf(settings()), 0);
    EXPECT_EQ(readFile(board.path("/var/wifi.conf")), "open\n");
    EXPECT_EQ(board.boardLog(),
              std::vector<std::string>{"cp /mnt/config/wifi_conf_nokey.conf  /var/wifi.conf"});

    writeFile(settings(), "[network]\nconnectionType=0\n[wifi]\nencrypt=1\n");
    board.clearBoardLog();
    ASSERT_EQ(enc::generate_wifi_conf(settings()), 0);
    EXPECT_TRUE(board.boardLog().empty());
}

TEST_F(DeviceTest, WifiOpenNetworkFileIsTheTemplateByteForByte) {
    auto handler = makeHandler();
    enc::WifiSettings w;
    w.essid = "Office AP";
    w.encrypt = 0;
    ASSERT_EQ(handler->setWifiParam(w, response), 0);
    EXPECT_EQ(readFile(board.path("/mnt/config/wifi_conf_nokey.conf")),
              "ctrl_interface=/var/run/wpa_supplicant\n"
              "\t\t\t\t\t\t\teapol_version=1\n"
              "\t\t\t\t\t\t\t\t\tap_scan=1\n"
              "\t\t\t\t\t\t\t\t\t\t\tfast_reauth=1\n"
              "\t\t\t\t\t\t\t\t\t\t# Only   no key   #\n"
              "\t\t\t\t\t\t\t\tnetwork={\n"
              "ssid=\"Office AP\"\n"
              "key_mgmt=NONE\n"
              "\t\t\t\t\t\t\t\t\t\t}\n");
    EXPECT_EQ(savedSettings().wifi.essid, "Office AP");
    EXPECT_EQ(board.boardLog(), std::vector<std::string>{"/bin/sync"});

    // A line break in the essid cannot add configuration lines.
    EXPECT_EQ(enc::openNetworkText("x\"\nkey_mgmt=WPA").find("\nkey_mgmt=WPA"), std::string::npos);
    w.essid.clear();  // the file writer refuses a network without a name on its own
    EXPECT_FALSE(enc::writeWifiClientFile(w));
}

TEST_F(DeviceTest, WifiKeyFileComesFromWpaPassphraseWithoutAShell) {
    auto handler = makeHandler();
    enc::WifiSettings w;
    w.essid = "my net;touch /tmp/x";
    w.key = "pass $(id) 1";
    w.encrypt = 1;
    const std::string path = board.path("/mnt/config/wifi_conf_key.conf");
    writeFile(path, "an older file, readable by all\n");
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    ASSERT_EQ(handler->setWifiParam(w, response), 0);
    // The network's secret: root's only, and the passphrase itself not in plain text.
    const std::string keyFile = readFile(path);
    EXPECT_NE(keyFile.find("ssid=\"my net;touch /tmp/x\""), std::string::npos) << keyFile;
    EXPECT_NE(keyFile.find("\tpsk="), std::string::npos) << keyFile;
    EXPECT_EQ(keyFile.find("#psk"), std::string::npos) << keyFile;
    EXPECT_EQ(keyFile.find("pass $(id) 1"), std::string::npos) << keyFile;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_TRUE(
        logHas("/usr/local/bin/wpa_passphrase my net;touch /tmp/x pass $(id) 1 > "
               "/mnt/config/wifi_conf_key.conf"));
}

// ---- inside a private network namespace ----

class NetNamespaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!testsupport::NetNamespace::available(&why)) {
            GTEST_SKIP() << why;
        }
        ns = std::make_unique<testsupport::NetNamespace>("192.168.77.10/24", "192.168.77.1/24");
        if (!ns->ok()) {
            GTEST_SKIP() << ns->reason();
        }
    }

    // Runs the helper tool inside the namespace against this sandbox.
    int tool(const std::string& args, std::string* out, bool apply = false) const {
        return testsupport::shell(ns->execPrefix() + "env BOARD_ROOT=" + board.root() +
                                      (apply ? " BOARD_NET=apply " : " ") +
                                      testsupport::programPath("device-nettool") + " " + args +
                                      " 2>/dev/null",
                                  out);
    }

    SandboxBoard board;
    std::unique_ptr<testsupport::NetNamespace> ns;
};

// Without BOARD_NET=apply only the log sees the mode; with it the namespace is configured.
TEST_F(NetNamespaceTest, SetNetInterfaceAppliesAddressNetmaskAndDefaultRoute) {
    const std::string settings = board.path("/mnt/config/encoder.ini");
    writeFile(settings,
              "[network]\nconnectionType=0\ndhcp=0\nip=10.1.2.3\nmask=255.255.255.0\n"
              "gate=10.1.2.1\ndns0=10.1.2.53\ndns1=10.1.2.54\n");
    std::string out;
    ASSERT_EQ(tool("setnet " + settings, &out), 0) << out;
    std::string untouched;
    testsupport::shell("ip -n " + ns->name() + " -4 -o addr show dev eth0", &untouched);
    EXPECT_NE(untouched.find("inet 192.168.77.10/24"), std::string::npos) << untouched;
    EXPECT_TRUE(board.boardLog().size() >= 2);

    out.clear();
    ASSERT_EQ(tool("setnet " + settings, &out, true), 0) << out;
    EXPECT_NE(out.find("net name : eth0"), std::string::npos) << out;

    std::string addrs;
    ASSERT_EQ(testsupport::shell("ip -n " + ns->name() + " -4 -o addr show dev eth0", &addrs), 0);
    EXPECT_NE(addrs.find("inet 10.1.2.3/24"), std::string::npos) << addrs;
    std::string routes;
    ASSERT_EQ(testsupport::shell("ip -n " + ns->name() + " route show default", &routes), 0);
    EXPECT_NE(routes.find("default via 10.1.2.1 dev eth0"), std::string::npos) << routes;
    EXPECT_EQ(readFile(board.path("/etc/resolv.conf")),
              "nameserver 10.1.2.53\nnameserver 10.1.2.54\n");

    // The query helpers see the new configuration.
    out.clear();
    ASSERT_EQ(tool("iface eth0", &out), 0);
    EXPECT_NE(out.find("addr=10.1.2.3 mask=255.255.255.0 mac="), std::string::npos) << out;
    std::string link;
    testsupport::shell("ip -n " + ns->name() + " -o link show dev eth0", &link);
    const std::string mac = out.substr(out.find("mac=") + 4, 17);
    EXPECT_NE(link.find("link/ether " + mac), std::string::npos) << link << " / " << mac;
    out.clear();
    ASSERT_EQ(tool("gateway", &out), 0);
    EXPECT_EQ(out, "gateway=10.1.2.1\n");
}

TEST_F(NetNamespaceTest, ActiveInterfaceIsSoughtAmongTheFirstThreeListed) {
    std::string out;
    ASSERT_EQ(tool("active", &out), 0);
    EXPECT_EQ(out, "active=[eth0]\n");
    // Two more loopback addresses push eth0 to the fourth place of the list.
    ASSERT_EQ(testsupport::shell("ip -n " + ns->name() + " addr add 127.0.0.2/8 dev lo && ip -n " +
                                 ns->name() + " addr add 127.0.0.3/8 dev lo"),
              0);
    out.clear();
    ASSERT_EQ(tool("active", &out), 0);
    EXPECT_EQ(out, "active=[]\n");
}

}  // namespace
