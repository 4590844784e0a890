#include <gtest/gtest.h>

#include <cstring>

#include "Ipv4.h"

namespace {

// The rule guards addresses from the web API and from LAN discovery requests alike.
TEST(Ipv4, ValidityRule) {
    const std::pair<const char*, bool> cases[] = {
        {"192.168.1.1", true},
        {"0.0.0.0", true},
        {"255.255.255.255", true},
        {"1..2.3", false},  // an empty group is no address
        {"1.2.3.", false},
        {"1.2.3..", false},
        {"1.2..3.4", false},
        {"0001.2.3.4", false},
        {"010.001.001.010", false},  // octal to glibc's resolver: 8.1.1.8
        {"10.0.0.00", false},
        {"1.2.3.04", false},
        {"10.0.0.0", true},
        {"100.200.10.1", true},
        {"", false},
        {"192.168.1", false},
        {".1.2.3", false},
        {"1.2.3.256", false},
        {"1.2.3.4.5", false},
        {"10.0.0.5 ", false},
        {"10.0.0.5;reboot", false},
        {"10.0.0.-1", false},
        {"a.b.c.d", false},
        {"99999999999999999999.1.1.1", false},  // no overflow into a small value
        {"1.2.3.99999999999999999999", false},
    };
    for (const auto& [text, valid] : cases) {
        EXPECT_EQ(comn::isValidIpv4(text), valid) << '"' << text << '"';
    }
}

TEST(Ipv4, TextOfNetworkOrderAddresses) {
    EXPECT_EQ(comn::ipv4Text(0xFFFFFFFFu), "255.255.255.255");
    EXPECT_EQ(comn::ipv4Text(0), "0.0.0.0");
    const uint8_t bytes[4] = {192, 168, 1, 20};
    uint32_t address;
    std::memcpy(&address, bytes, 4);
    EXPECT_EQ(comn::ipv4Text(address), "192.168.1.20");
}

}  // namespace
