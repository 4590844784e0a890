// The rules for texts that end in files other programs parse: each field at its
// boundaries, one past them and with the bytes that would break a line or a quote.
#include <gtest/gtest.h>

#include <string>

#include "SettingsCheck.h"

namespace {

using enc::SettingsCheck;

enc::NetworkSettings wired() {
    enc::NetworkSettings n;
    n.ip = "192.168.1.230";
    n.mask = "255.255.255.0";
    n.gate = "192.168.1.1";
    n.dnsFirst = "114.114.114.114";
    n.dnsSecond = "192.168.1.1";
    n.mac = "44:03:2c:56:79:40";
    return n;
}

enc::WifiSettings wpa(const std::string& essid, const std::string& key) {
    enc::WifiSettings w;
    w.essid = essid;
    w.key = key;
    w.encrypt = 1;
    return w;
}

TEST(SettingsCheck, NetworkAddressesMustBeCompleteDottedQuads) {
    EXPECT_EQ(SettingsCheck::network(wired()), "");
    using Field = std::string enc::NetworkSettings::*;
    const struct {
        Field field;
        const char* text;
        const char* key;  // named in the reason; nullptr: accepted
    } cases[] = {
        {&enc::NetworkSettings::ip, "1.2.3.", "ip"},
        {&enc::NetworkSettings::ip, "1..2.3", "ip"},
        {&enc::NetworkSettings::ip, "", "ip"},
        {&enc::NetworkSettings::mask, "255.255.255", "mask"},
        {&enc::NetworkSettings::gate, "10.0.0.1\nnameserver 6.6.6.6", "gate"},
        {&enc::NetworkSettings::dnsFirst, "8.8.8.8 ", "dnsFirst"},
        {&enc::NetworkSettings::dnsFirst, "010.010.010.010", "dnsFirst"},  // octal: 8.8.8.8
        {&enc::NetworkSettings::ip, "010.001.001.010", "ip"},
        {&enc::NetworkSettings::dnsSecond, "8.8.4.4\nnameserver 6.6.6.6", "dnsSecond"},
        {&enc::NetworkSettings::dnsSecond, "1.2.3.", "dnsSecond"},
        {&enc::NetworkSettings::dnsSecond, "", nullptr},  // no second name server
        {&enc::NetworkSettings::dnsSecond, "8.8.4.4", nullptr},
        {&enc::NetworkSettings::mac, "44:03:2c:56:79", "mac"},
        {&enc::NetworkSettings::mac, "44:03:2c:56:79:4g", "mac"},
        {&enc::NetworkSettings::mac, "44-03-2c-56-79-40", "mac"},
        {&enc::NetworkSettings::mac, "44:03:2c:56:79:40\n", "mac"},
        {&enc::NetworkSettings::mac, "44:03:2C:56:79:40", nullptr},
        {&enc::NetworkSettings::mac, "", nullptr},  // not given: the device never applies it
    };
    for (const auto& c : cases) {
        enc::NetworkSettings n = wired();
        n.*c.field = c.text;
        const std::string reason = SettingsCheck::network(n);
        if (c.key == nullptr) {
            EXPECT_EQ(reason, "") << c.text;
        } else {
            EXPECT_EQ(reason.rfind(c.key, 0), 0u) << '"' << c.text << "\": " << reason;
        }
    }
}

TEST(SettingsCheck, WifiEssidAndKeyFollowWpa) {
    const struct {
        enc::WifiSettings w;
        bool ok;
    } cases[] = {
        {wpa("office", "12345678"), true},
        {wpa(std::string(32, 'e'), std::string(63, 'k')), true},
        {wpa("my net;touch /tmp/x", "pass $(id) 1"), true},  // no shell ever sees them
        {wpa("Büro", "12345678"), true},                     // UTF-8 names are fine
        {wpa("", "12345678"), false},
        {wpa(std::string(33, 'e'), "12345678"), false},
        {wpa("office\nnetwork={", "12345678"), false},
        {wpa("off\"ice", "12345678"), false},
        {wpa(std::string("off\0ice", 7), "12345678"), false},
        {wpa("office\x7f", "12345678"), false},
        {wpa("office", "1234567"), false},
        {wpa("office", std::string(64, 'k')), false},
        {wpa("office", "1234567\n}\nnetwork={ssid=\"evil\""), false},
        {wpa("office", "12345\"678"), false},
        {wpa("office", "12345678\t"), false},
        {wpa("office", "12345678\xc3\xa9"), false},  // WPA passphrases are ASCII
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SettingsCheck::wifi(c.w).empty(), c.ok) << c.w.essid << " / " << c.w.key;
    }
}

TEST(SettingsCheck, OpenWifiIgnoresTheKeyLengthButNotItsBytes) {
    enc::WifiSettings w = wpa("office", "");
    w.encrypt = 0;
    EXPECT_EQ(SettingsCheck::wifi(w), "");
    w.key = "x";
    EXPECT_EQ(SettingsCheck::wifi(w), "");
    w.key = "x\ny";
    EXPECT_NE(SettingsCheck::wifi(w), "");
}

TEST(SettingsCheck, WifiAddressesAreOptionalButComplete) {
    enc::WifiSettings w = wpa("office", "12345678");
    for (const auto& [text, ok] : {std::pair<const char*, bool>{"", true},
                                   {"192.168.1.231", true},
                                   {"1.2.3.", false},
                                   {"1..2.3", false}}) {
        for (auto field :
             {&enc::WifiSettings::ip, &enc::WifiSettings::mask, &enc::WifiSettings::gate}) {
            enc::WifiSettings v = w;
            v.*field = text;
            EXPECT_EQ(SettingsCheck::wifi(v).empty(), ok) << text;
        }
    }
}

TEST(SettingsCheck, SecurityFlagsAreZeroOrOne) {
    for (const auto& [https, lock, ok] : {std::tuple<int, int, bool>{0, 0, true},
                                          {1, 1, true},
                                          {0, 1, true},
                                          {2, 0, false},
                                          {0, -1, false},
                                          {0, 2, false}}) {
        enc::SecuritySettings s;
        s.httpsOnly = https;
        s.provisionLock = lock;
        EXPECT_EQ(SettingsCheck::security(s).empty(), ok) << https << ' ' << lock;
    }
}

TEST(SettingsCheck, ErrorDocumentIsJson) {
    EXPECT_EQ(SettingsCheck::errorDocument("essid must not hold '\"'"),
              "{\"error\":\"essid must not hold '\\\"'\"}");
    EXPECT_EQ(SettingsCheck::errorDocument("a\\b\nc"), "{\"error\":\"a\\\\b c\"}");
}

}  // namespace
