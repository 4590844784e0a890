// The RTMP push document ("/api/rtmp"): the password is write-only (never in a reply, kept
// when a body leaves it out, cleared by ""), the rest of the protocol section is kept, and
// SettingsCheck::rtmpAddress guards the address.
#include <gtest/gtest.h>

#include <string>

#include "EncoderHttpHandler.h"
#include "FakeDevice.h"
#include "JsonCast.h"
#include "SettingsCheck.h"

namespace {

constexpr const char* kSecret = "push-Secret-42";

struct RtmpDevice : httptest::FakeDevice {
    RtmpDevice() {
        config.protocol[1].rtmpEnabled = 1;
        config.protocol[1].rtmpAddr = "192.168.1.75";
        config.protocol[1].rtmpPort = 1935;
        config.protocol[1].rtmpUser = "cam";
        config.protocol[1].rtmpPassword = kSecret;
        config.protocol[1].rtspPort = 8554;
        config.protocol[1].rtmpDir = "live";
    }
};

TEST(RtmpDocument, GetTellsWhetherAPasswordIsSetButNeverThePassword) {
    RtmpDevice dev;
    std::string response = "{}";
    ASSERT_EQ(dev.api.handleApi("GET", "/rtmp", "index=1", "", response), 0);
    EXPECT_EQ(response, R"({"rtmpEnabled":true,"rtmpAddr":"192.168.1.75","rtmpPort":1935,)"
                        R"("rtmpUser":"cam","passwordSet":true})");
    ASSERT_EQ(dev.api.handleApi("GET", "/rtmp", "index=0", "", response), 0);
    EXPECT_NE(response.find(R"("passwordSet":false)"), std::string::npos) << response;
    EXPECT_EQ(dev.api.handleApi("DELETE", "/rtmp", "index=0", "", response), 22);
}

TEST(RtmpDocument, PostChangesTheNamedKeysKeepsThePasswordUnlessGivenAndRefusesBadAddresses) {
    struct Case {
        const char* what;
        const char* body;
        int result;
        const char* password;
        const char* address;
    };
    const Case cases[] = {
        {"no password key keeps it", R"({"rtmpAddr":"rtmps://live.example.com/app/key"})", 0,
         kSecret, "rtmps://live.example.com/app/key"},
        {"an empty password clears it", R"({"rtmpPassword":""})", 0, "", "192.168.1.75"},
        {"a new password replaces it", R"({"rtmpPassword":"other","rtmpAddr":"media.example"})", 0,
         "other", "media.example"},
        {"garbage keeps everything", "not json", 0, kSecret, "192.168.1.75"},
        {"a bad address is refused", R"({"rtmpAddr":"ftp://x/y","rtmpPassword":""})", -1, kSecret,
         "192.168.1.75"},
    };
    for (const Case& c : cases) {
        RtmpDevice dev;
        std::string response = "{}";
        EXPECT_EQ(dev.api.handleApi("POST", "/rtmp", "index=1", c.body, response), c.result)
            << c.what;
        EXPECT_EQ(dev.config.protocol[1].rtmpPassword, c.password) << c.what;
        EXPECT_EQ(dev.config.protocol[1].rtmpAddr, c.address) << c.what;
        // The keys this document does not name stay as stored.
        EXPECT_EQ(dev.config.protocol[1].rtspPort, 8554) << c.what;
        EXPECT_EQ(dev.config.protocol[1].rtmpDir, "live") << c.what;
        EXPECT_EQ(response.find(kSecret), std::string::npos) << c.what;
        if (c.result != 0) {
            EXPECT_NE(response.find("rtmpAddr must be"), std::string::npos) << response;
        }
    }
}

TEST(RtmpCheck, AddressIsAHostOrAnRtmpUrl) {
    for (const char* good :
         {"", "192.168.1.75", "media.example.com", "rtmp://h/live",
          "rtmp://u:p@10.0.0.1:1935/live/cam", "rtmps://a.b.c:443/app/key?x=1"}) {
        EXPECT_EQ(enc::SettingsCheck::rtmpAddress(good), "") << good;
    }
    for (const char* bad : {"rtmp://", "rtmp://h", "rtmp://h/", "rtmp:///live", "http://h/live",
                            "rtmp://h:0/live", "rtmp://h:99999/live", "rtmp://h:/live",
                            "rtmp://h/li ve", "host name", "-bad-.example", "rtmp://u@/live"}) {
        EXPECT_NE(enc::SettingsCheck::rtmpAddress(bad), "") << bad;
    }
    EXPECT_NE(enc::SettingsCheck::rtmpAddress("rtmp://h/" + std::string(1100, 'a')), "");
}

}  // namespace
