// Requests that would end in files other programs parse (the Wi-Fi client configuration,
// resolv.conf through the settings) are refused whole, with a reason, before anything is
// saved or run; the security switches reach the settings file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "DeviceFixture.h"

using testsupport::fileExists;
using testsupport::readFile;

namespace {

enc::NetworkSettings wiredNetwork() {
    enc::NetworkSettings n;
    n.ip = "10.0.0.5";
    n.mask = "255.255.255.0";
    n.gate = "10.0.0.1";
    n.dnsFirst = "10.0.0.1";
    n.dnsSecond = "8.8.8.8";
    n.mac = "44:03:2c:56:79:40";
    return n;
}

enc::WifiSettings wpaNetwork() {
    enc::WifiSettings w;
    w.essid = "office";
    w.key = "12345678";
    w.encrypt = 1;
    return w;
}

TEST_F(DeviceTest, WifiInjectionIsRefusedWithAReasonAndNothingSaved) {
    auto handler = makeHandler();
    ASSERT_EQ(handler->setWifiParam(wpaNetwork(), response), 0);
    const std::string settingsBefore = settingsText();
    const std::string keyFile = readFile(board.path("/mnt/config/wifi_conf_key.conf"));
    board.clearBoardLog();

    const struct {
        const char* essid;
        const char* key;
        int encrypt;
        const char* reason;  // the start of the error the reply names
    } cases[] = {
        {"office\nnetwork={\n\tssid=\"evil\"", "12345678", 1, "essid"},
        {"office\"", "12345678", 1, "essid"},
        {"office", "12345678\n}\nnetwork={\n\tssid=\"evil\"\n\tkey_mgmt=NONE", 1, "key"},
        {"office", "x\ny", 0, "key"},  // unused without encryption, still never stored
    };
    for (const auto& c : cases) {
        enc::WifiSettings w = wpaNetwork();
        w.essid = c.essid;
        w.key = c.key;
        w.encrypt = c.encrypt;
        response = "{}";
        EXPECT_EQ(handler->setWifiParam(w, response), -1) << c.essid << " / " << c.key;
        EXPECT_EQ(response.rfind(std::string("{\"error\":\"") + c.reason, 0), 0u) << response;
    }
    EXPECT_EQ(settingsText(), settingsBefore);
    EXPECT_EQ(readFile(board.path("/mnt/config/wifi_conf_key.conf")), keyFile);
    EXPECT_TRUE(board.boardLog().empty()) << "no wpa_passphrase, no sync";
}

TEST_F(DeviceTest, NetworkTextsMustBeCompleteAddressesAndAMac) {
    auto handler = makeHandler();
    ASSERT_EQ(handler->setNetwork(wiredNetwork(), response), 0);
    const std::string before = settingsText();
    const std::string modeBefore = readFile(board.path("/mnt/config/net_mode.ini"));
    board.clearBoardLog();
    using Field = std::string enc::NetworkSettings::*;
    const std::pair<Field, const char*> bad[] = {
        {&enc::NetworkSettings::ip, ""},
        {&enc::NetworkSettings::mask, "255.255.255"},
        {&enc::NetworkSettings::gate, "1..2.3"},
        {&enc::NetworkSettings::dnsFirst, "8.8.8.8\nnameserver 6.6.6.6"},
        {&enc::NetworkSettings::dnsSecond, "8.8.4.4\nsearch evil.example"},
        {&enc::NetworkSettings::mac, "44:03:2c:56:79:40\n[x]"},
    };
    for (const auto& [field, text] : bad) {
        enc::NetworkSettings n = wiredNetwork();
        n.connectionType = 1;
        n.*field = text;
        response = "{}";
        EXPECT_EQ(handler->setNetwork(n, response), -1) << text;
        EXPECT_EQ(response.rfind("{\"error\":", 0), 0u) << response;
    }
    EXPECT_EQ(settingsText(), before);
    EXPECT_EQ(readFile(board.path("/mnt/config/net_mode.ini")), modeBefore);
    EXPECT_TRUE(board.boardLog().empty());

    // Not given: no second name server, the MAC the device reports anyway.
    enc::NetworkSettings n = wiredNetwork();
    n.dnsSecond.clear();
    n.mac.clear();
    EXPECT_EQ(handler->setNetwork(n, response), 0);
}

TEST_F(DeviceTest, SecuritySwitchesAreStoredForPeerloAndTheWebServer) {
    auto handler = makeHandler();
    enc::SecuritySettings s;
    ASSERT_EQ(handler->getSecurity(s), 0);
    EXPECT_EQ(s.provisionLock, 0);
    EXPECT_EQ(s.httpsOnly, 0);

    s.provisionLock = 1;
    ASSERT_EQ(handler->setSecurity(s, response), 0);
    EXPECT_NE(settingsText().find("\n[security]\nhttpsOnly=0\nprovisionLock=1\n"),
              std::string::npos)
        << settingsText();
    EXPECT_EQ(board.boardLog(), std::vector<std::string>{}) << "the save syncs itself";
    EXPECT_TRUE(standIn->codes().empty()) << "the media process has no part in it";

    // Someone edits the file by hand: the next read sees it.
    writeSettings("[security]\nhttpsOnly=1\nprovisionLock=0\n");
    ASSERT_EQ(handler->getSecurity(s), 0);
    EXPECT_EQ(s.httpsOnly, 1);
    EXPECT_EQ(s.provisionLock, 0);

    const std::string before = settingsText();
    for (const auto& [https, lock] : {std::pair<int, int>{2, 0}, {0, -1}}) {
        enc::SecuritySettings bad;
        bad.httpsOnly = https;
        bad.provisionLock = lock;
        response = "{}";
        EXPECT_EQ(handler->setSecurity(bad, response), -1);
        EXPECT_NE(response.find("must be 0 or 1"), std::string::npos) << response;
    }
    EXPECT_EQ(settingsText(), before);
}

// The metrics token lives in a file of its own that only the owner reads; a request without
// it keeps it, a bad one is refused, and the settings file never holds it.
TEST_F(DeviceTest, MetricsTokenIsKeptOwnerOnlyAndNeverShown) {
    auto handler = makeHandler();
    const enc::MetricsToken token = handler->metricsToken();
    EXPECT_FALSE(token.isSet());
    EXPECT_FALSE(token.matches(""));
    enc::SecuritySettings s;
    s.metricsToken = "scrape-0123456789abcdef";
    ASSERT_EQ(handler->setSecurity(s, response), 0) << response;
    ASSERT_EQ(handler->getSecurity(s), 0);
    EXPECT_EQ(s.metricsTokenSet, 1);
    EXPECT_TRUE(s.metricsToken.empty());
    EXPECT_EQ(settingsText().find("scrape-"), std::string::npos) << settingsText();
    struct stat st {};
    ASSERT_EQ(::stat((board.path("/mnt/config/") + enc::MetricsToken::kFileName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    enc::SecuritySettings keep;  // no token in the request: the stored one stays
    keep.provisionLock = 1;
    ASSERT_EQ(handler->setSecurity(keep, response), 0);
    for (const auto& [given, right] :
         std::vector<std::pair<std::string, bool>>{{"scrape-0123456789abcdef", true},
                                                   {"scrape-0123456789abcdeF", false},
                                                   {"scrape-0123456789abcde", false},
                                                   {"scrape-0123456789abcdefscrape-", false},
                                                   {"", false}}) {
        EXPECT_EQ(token.matches(given), right) << given;
    }
    for (const std::string& bad :
         std::vector<std::string>{"short", "has a blank in it ....", std::string(129, 'x'),
                                  "semicolon;0123456789abcdef"}) {
        enc::SecuritySettings refused;
        refused.metricsToken = bad;
        response = "{}";
        EXPECT_EQ(handler->setSecurity(refused, response), -1) << bad;
        EXPECT_NE(response.find("metricsToken"), std::string::npos) << response;
    }
    EXPECT_TRUE(token.matches("scrape-0123456789abcdef"));
}

TEST_F(DeviceTest, ALockThatCannotBeSavedIsNotReportedAsSet) {
    auto handler = makeHandler();
    ASSERT_EQ(::mkdir(settingsPath().c_str(), 0755), 0);  // a directory cannot be replaced
    enc::SecuritySettings s;
    s.provisionLock = 1;
    EXPECT_EQ(handler->setSecurity(s, response), -1);
    EXPECT_FALSE(fileExists(settingsPath() + "/security"));
}

}  // namespace
