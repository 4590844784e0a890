// The security document and the refusal of control characters in any text of any body.
#include <gtest/gtest.h>

#include <string>

#include "EncoderConfigFile.h"
#include "EncoderHttpHandler.h"
#include "FakeDevice.h"
#include "JsonCast.h"
#include "JsonStringCheck.h"
#include "SettingsCheck.h"
#include "TestSupport.h"

namespace {

using enc::EncoderHttpHandler;
using enc::JsonStringCheck;

TEST(JsonStringCheck, FindsControlCharactersInStringsOnly) {
    const std::pair<std::string, bool> cases[] = {
        {R"({"essid":"office"})", false},
        {R"({"essid":"a\nb"})", true},
        {R"({"essid":"a\rb"})", true},
        {R"({"essid":"a\tb"})", true},
        {R"({"essid":"a\u000ab"})", true},
        {R"({"essid":"a\u001Bb"})", true},
        {R"({"essid":"a\u007fb"})", true},
        {R"({"essid":"a\u0020b"})", false},
        {R"({"essid":"a\u00e9b"})", false},
        {R"({"essid":"a\\nb"})", false},  // a backslash and an n
        {R"({"essid":"a\"\nb"})", true},
        {R"({"essid":"a\/b"})", false},
        {std::string("{\"essid\":\"a\nb\"}"), true},          // raw byte inside a string
        {std::string("{\n\t\"essid\" :\r\n\"ab\"}"), false},  // white space between tokens
        {R"({"a\nb":1})", true},                              // keys are strings too
        {R"({"essid":"ab\u00)", false},                       // cut short: the parser refuses it
        {"", false},
    };
    for (const auto& [text, found] : cases) {
        EXPECT_EQ(JsonStringCheck::hasControlCharacter(text), found) << text;
    }
}

TEST(ApiBodies, ControlCharactersInAnyTextAreRefusedBeforeTheDevice) {
    for (const auto& [path, body] :
         {std::pair<const char*, const char*>{"/wifi", R"({"essid":"x\nnetwork={","key":"k"})"},
          {"/network", R"({"dnsFirst":"8.8.8.8\nnameserver 6.6.6.6"})"},
          {"/osd", R"([{"text":"a\u000d[security]"}])"},
          {"/protocol", R"({"rtmpUser":"u\r\n"})"}}) {
        httptest::FakeDevice dev;
        std::string response = "{}";
        EXPECT_EQ(dev.api.handleApi("POST", path, "", body, response),
                  EncoderHttpHandler::kBadRequest)
            << path;
        EXPECT_TRUE(dev.calls().empty()) << path;
        EXPECT_NE(response.find("control characters"), std::string::npos) << response;
    }
}

// A device with the security switches, over the recording fake.
class SecureDevice : public httptest::FakeDevice {
public:
    enc::SecuritySettings stored;
    std::vector<std::string> securityCalls;
    ApiResult getSecurity(enc::SecuritySettings& out) override {
        securityCalls.push_back("getSecurity");
        out = stored;
        return kApiOk;
    }
    ApiResult setSecurity(const enc::SecuritySettings& in, std::string&) override {
        securityCalls.push_back("setSecurity");
        stored = in;
        return kApiOk;
    }
};

TEST(SecurityDocument, GetAndPostReachADeviceWithTheSwitches) {
    SecureDevice dev;
    dev.stored.provisionLock = 1;
    std::string response = "{}";
    ASSERT_EQ(dev.api.handleApi("GET", "/security", "", "", response), 0);
    EXPECT_EQ(response,
              R"({"httpsOnly":0,"provisionLock":1,"rtspAuth":1,"metricsTokenSet":false})");

    response = "{}";
    ASSERT_EQ(dev.api.handleApi("POST", "/security", "", R"({"httpsOnly":1,"provisionLock":0})",
                                response),
              0);
    EXPECT_EQ(dev.stored.httpsOnly, 1);
    EXPECT_EQ(dev.stored.provisionLock, 0);
    EXPECT_EQ(response, "{}");

    response = "{}";
    EXPECT_EQ(dev.api.handleApi("DELETE", "/security", "", "", response), 22);
    EXPECT_EQ(dev.securityCalls, (std::vector<std::string>{"getSecurity", "setSecurity"}));

    httptest::FakeDevice without;  // a device without the switches refuses
    EXPECT_EQ(without.api.handleApi("GET", "/security", "", "", response), -1);
    EXPECT_EQ(without.api.handleApi("POST", "/security", "", R"({"provisionLock":1})", response),
              -1);
}

TEST(SecurityDocument, DecodesNumbersAndLeavesOtherValues) {
    enc::SecuritySettings s;
    enc::JsonCast::fromJson(s, R"({"provisionLock":"1","httpsOnly":true})");
    EXPECT_EQ(s.provisionLock, 1);
    EXPECT_EQ(s.httpsOnly, 0);  // not a number: unchanged, as in every document
    enc::JsonCast::fromJson(s, R"({"httpsOnly":7})");
    EXPECT_EQ(s.httpsOnly, 7);  // the device refuses it (SettingsCheck)
    // The metrics token is read from a request but never written: a reply says only whether
    // one is set.
    enc::JsonCast::fromJson(s, R"({"metricsToken":"abc","metricsTokenSet":true})");
    EXPECT_EQ(s.metricsToken, "abc");
    EXPECT_EQ(s.metricsTokenSet, 0);
    s.metricsTokenSet = 1;
    std::string reply;
    enc::JsonCast::toJson(s, reply);
    EXPECT_EQ(reply.find("abc"), std::string::npos) << reply;
    EXPECT_NE(reply.find(R"("metricsTokenSet":true)"), std::string::npos) << reply;
}

// RTSP viewing asks for the web credentials unless rtspAuth is 0; a body or a file without
// the key keeps it asked for, and only 0 or 1 is stored, at the end of [security].
TEST(SecurityDocument, RtspAuthIsRequiredUnlessSwitchedOff) {
    enc::SecuritySettings s;
    enc::JsonCast::fromJson(s, R"({"httpsOnly":1})");
    EXPECT_EQ(s.rtspAuth, 1);
    enc::JsonCast::fromJson(s, R"({"rtspAuth":0})");
    EXPECT_EQ(s.rtspAuth, 0);
    s.rtspAuth = 2;
    EXPECT_EQ(enc::SettingsCheck::security(s), "rtspAuth must be 0 or 1");

    testsupport::TempDir dir;
    const std::string path = dir.file("encoder.ini");
    enc::EncoderConfigFile fresh;
    ASSERT_TRUE(fresh.save(path));
    EXPECT_NE(testsupport::readFile(path).find(
                  "\n[security]\nhttpsOnly=0\nprovisionLock=0\nrtspAuth=1\n"),
              std::string::npos);
    testsupport::writeFile(path, "[security]\nrtspAuth=0\n");
    enc::EncoderConfigFile loaded;
    ASSERT_TRUE(loaded.load(path));
    EXPECT_EQ(loaded.security.rtspAuth, 0);
}

}  // namespace
