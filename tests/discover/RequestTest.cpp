// Parsing of what arrives from the LAN and from the board's files.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "BoardPaths.h"
#include "DeviceSettings.h"
#include "DiscoveryPacket.h"
#include "MacText.h"
#include "RandomMac.h"
#include "RequestParser.h"
#include "SystemFiles.h"
#include "TestSupport.h"

using namespace discover;

TEST(RequestParser, UidMustBeAPlainIdentifierOfAtMost32) {
    const std::pair<std::string, bool> cases[] = {
        {"ABC", true},
        {"uid-01_a.b", true},
        {std::string(32, 'x'), true},
        {std::string(33, 'x'), false},
        {"", false},
        {"a;reboot", false},
        {"$(touch /tmp/x)", false},
        {"`id`", false},
        {"a b", false},
        {"a|b", false},
        {"a\nb", false},
        {"a/../b", false},
        {"\xc3\xa9t\xc3\xa9", false},
        {"--help", false},  // an option of nvram_set, not a UID
        {"-x", false},
        {"-", false},
        {"a-", true},
    };
    for (const auto& [text, valid] : cases) {
        EXPECT_EQ(RequestParser::isPlainUid(text), valid) << '"' << text << '"';
    }
}

TEST(RequestParser, SetIpFieldsAreReadWithinTheirOwnBytes) {
    DiscoveryPacket p = makePacket(DEVICE_BROAD_SET_IP_REQ, 0, 86);
    SetIpRequest req;
    std::memset(&req, '9', sizeof req);  // no terminator anywhere
    std::memcpy(req.mask, "255.255.255.0", 14);
    req.dhcp = 1;
    std::memcpy(p.payload, &req, sizeof req);
    const auto fields = RequestParser::parseSetIp(p);
    EXPECT_EQ(fields.origIp, std::string(17, '9'));
    EXPECT_EQ(fields.newIp, std::string(17, '9'));
    EXPECT_EQ(fields.mask, "255.255.255.0");
    EXPECT_EQ(fields.dns, std::string(17, '9'));
    EXPECT_EQ(fields.dhcp, 1);
}

TEST(RandomMac, AddressesStartWith62123456AndEndInHexDigitCodes) {
    for (int i = 0; i < 50; ++i) {
        const std::string mac = RandomMac::make();
        EXPECT_TRUE(peerlo_test::isRandomMac(mac)) << mac;
    }
    EXPECT_EQ(RandomMac::format('7', 'a'), "62:12:34:56:37:61");
}

TEST(RandomMac, EveryRandValueMapsToAHexDigit) {
    std::set<char> seen;
    for (int r = 0; r < 200000; ++r) {
        const char c = RandomMac::hexCharFromRand(r);
        ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))
            << r;
        seen.insert(c);
    }
    EXPECT_EQ(RandomMac::hexCharFromRand(2147483647), RandomMac::hexCharFromRand(2147483647));
    EXPECT_GE(seen.size(), 16u);
}

TEST(SystemFiles, DefaultGatewayIsTheFirstRouteToZero) {
    const std::string routes =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\n"
        "eth0\t004DA8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\n"
        "garbage line\n"
        "eth0\t00000000\t014DA8C0\t0003\t0\t0\t0\t00000000\n"
        "eth1\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\n";
    EXPECT_EQ(SystemFiles::defaultGateway(routes), "192.168.77.1");
    EXPECT_EQ(SystemFiles::defaultGateway("Iface\tDestination\tGateway\n"
                                          "eth0\t004DA8C0\t00000000\t0001\n"),
              "");
    EXPECT_EQ(SystemFiles::defaultGateway(""), "");
}

TEST(SystemFiles, NameServerAndUidWord) {
    EXPECT_EQ(SystemFiles::firstNameServer("search domain\n# c\nnameserver 8.8.8.8\n"
                                           "nameserver 1.1.1.1\n"),
              "8.8.8.8");
    EXPECT_EQ(SystemFiles::firstNameServer("search domain\n"), "");
    EXPECT_EQ(SystemFiles::firstWord("  ABC-1 more\n"), "ABC-1");
    EXPECT_EQ(SystemFiles::firstWord("\n"), "");
}

TEST(DeviceSettings, DefaultsWhenMissingAndValuesAsStored) {
    testsupport::SandboxBoard board;
    DeviceSettings missing;
    EXPECT_FALSE(missing.load(kSettingsPath));
    EXPECT_EQ(missing.connectionType(), 0);
    EXPECT_EQ(missing.httpPort(), 80);
    EXPECT_EQ(missing.deviceName(), "IPC");
    EXPECT_EQ(missing.deviceType(), "1080P");
    EXPECT_EQ(missing.hardware(), "2.0.1.1");
    EXPECT_EQ(missing.webVersion(), "2.1.0.1");
    EXPECT_EQ(missing.dhcpText(), "0");

    testsupport::writeFile(board.path(kSettingsPath),
                           "[network]\r\nconnectionType=2\r\ndhcp=1\r\n"
                           "[master_protocol]\nhttpPort=8080abc\n"
                           "[system_infor]\ndeviceName=Hall encoder\r\n");
    DeviceSettings s;
    ASSERT_TRUE(s.load(kSettingsPath));
    EXPECT_EQ(s.connectionType(), 2);
    EXPECT_EQ(s.httpPort(), 8080);
    EXPECT_EQ(s.deviceName(), "Hall encoder");  // whole text, without the CR
    EXPECT_EQ(s.dhcpText(), "1");
}
