// The SRT document ("/api/srt"): its encoding without the passphrase, the merge of a POST into
// the stored record, the rules of SettingsCheck::srt, and the SRT keys of the stream-url
// document.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EncoderHttpHandler.h"
#include "FakeDevice.h"
#include "JsonCast.h"
#include "SettingsCheck.h"

namespace {

using enc::SettingsCheck;
using enc::SrtSettings;

constexpr const char* kSecret = "correct-horse-battery";

SrtSettings listener() {
    SrtSettings s;
    s.mode = "listener";
    s.port = 9000;
    s.latency = 120;
    s.keyLength = 16;
    return s;
}

SrtSettings caller() {
    SrtSettings s = listener();
    s.enabled = 1;
    s.mode = "caller";
    s.callerAddr = "receiver.example.net";
    s.callerPort = 7001;
    return s;
}

SrtSettings callerAt(const char* address, int port) {
    SrtSettings s = caller();
    s.callerAddr = address;
    s.callerPort = port;
    return s;
}

// The recording fake with both streams' SRT outputs stored as listeners.
struct SrtDevice : httptest::FakeDevice {
    SrtDevice() { config.srt[0] = config.srt[1] = listener(); }
};

TEST(SrtDocument, EncodesWhetherAPassphraseIsSetButNeverThePassphrase) {
    SrtSettings s = caller();
    std::string text;
    enc::JsonCast::toJson(s, text);
    EXPECT_EQ(text,
              R"({"enabled":1,"mode":"caller","port":9000,"callerAddr":"receiver.example.net",)"
              R"("callerPort":7001,"latency":120,"passphraseSet":false,"keyLength":16,)"
              R"("streamId":""})");
    s.passphrase = kSecret;
    s.streamId = R"(#!::r=live/"a")";
    enc::JsonCast::toJson(s, text);
    EXPECT_NE(text.find(R"("passphraseSet":true)"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("streamId":"#!::r=live/\"a\""})"), std::string::npos) << text;
    EXPECT_EQ(text.find(kSecret), std::string::npos) << text;
    EXPECT_EQ(text.find("passphrase\""), std::string::npos) << text;
}

TEST(SrtDocument, PostChangesTheNamedKeysAndKeepsTheOthers) {
    struct Case {
        const char* what;
        const char* body;
        std::string passphrase;  // stored afterwards, starting from kSecret
        int latency;             // stored afterwards, starting from 120
    };
    const Case cases[] = {
        {"no passphrase key keeps it", R"({"latency":300})", kSecret, 300},
        {"an empty passphrase clears it", R"({"passphrase":""})", "", 120},
        {"a new passphrase replaces it", R"({"passphrase":"0123456789ab"})", "0123456789ab", 120},
        {"passphraseSet is a reply key only", R"({"passphraseSet":false})", kSecret, 120},
        {"a body that is not JSON changes nothing", "latency=300", kSecret, 120},
    };
    for (const Case& c : cases) {
        SrtDevice dev;
        dev.config.srt[1].passphrase = kSecret;
        std::string response = "{}";
        ASSERT_EQ(dev.api.handleApi("POST", "/srt", "index=1", c.body, response), 0) << c.what;
        EXPECT_EQ(dev.config.srt[1].passphrase, c.passphrase) << c.what;
        EXPECT_EQ(dev.config.srt[1].latency, c.latency) << c.what;
        EXPECT_EQ(dev.config.srt[1].port, 9000) << c.what;
        EXPECT_EQ(dev.config.srt[0].passphrase, "") << c.what;  // the other stream is untouched
        EXPECT_EQ(dev.calls(),
                  (std::vector<std::string>{"settings", "settings", "store", "notify"}))
            << c.what;
        EXPECT_EQ(response, "{}") << c.what;
    }
}

TEST(SrtDocument, RoutesByMethodAndIndex) {
    SrtDevice dev;
    dev.config.srt[0].passphrase = kSecret;
    std::string response = "{}";
    ASSERT_EQ(dev.api.handleApi("GET", "/srt", "index=0", "", response), 0);
    EXPECT_NE(response.find(R"("passphraseSet":true)"), std::string::npos) << response;
    EXPECT_EQ(response.find(kSecret), std::string::npos) << response;

    response = "{}";
    EXPECT_EQ(dev.api.handleApi("DELETE", "/srt", "index=0", "", response), 22);
    // An index the device refuses: no write is attempted.
    EXPECT_EQ(dev.api.handleApi("POST", "/srt", "index=2", R"({"latency":300})", response), -1);
    EXPECT_EQ(dev.calls(), (std::vector<std::string>{"settings", "settings"}));
}

TEST(SrtCheck, EachBadValueIsNamed) {
    struct Case {
        const char* what;
        void (*change)(SrtSettings&);
        const char* reason;  // "" when the record may be stored
    };
    const Case cases[] = {
        {"defaults", [](SrtSettings&) {}, ""},
        {"an enabled caller", [](SrtSettings& s) { s = caller(); }, ""},
        {"enabled 2", [](SrtSettings& s) { s.enabled = 2; }, "enabled must be 0 or 1"},
        {"enabled -1", [](SrtSettings& s) { s.enabled = -1; }, "enabled must be 0 or 1"},
        {"mode rendezvous", [](SrtSettings& s) { s.mode = "rendezvous"; },
         "mode must be listener or caller"},
        {"mode in capitals", [](SrtSettings& s) { s.mode = "Listener"; },
         "mode must be listener or caller"},
        {"port 0", [](SrtSettings& s) { s.port = 0; }, "port must be a number from 1 to 65535"},
        {"port 1", [](SrtSettings& s) { s.port = 1; }, ""},
        {"port 65535", [](SrtSettings& s) { s.port = 65535; }, ""},
        {"port 65536", [](SrtSettings& s) { s.port = 65536; },
         "port must be a number from 1 to 65535"},
        {"latency 19", [](SrtSettings& s) { s.latency = 19; },
         "latency must be a number from 20 to 8000 ms"},
        {"latency 20", [](SrtSettings& s) { s.latency = 20; }, ""},
        {"latency 8000", [](SrtSettings& s) { s.latency = 8000; }, ""},
        {"latency 8001", [](SrtSettings& s) { s.latency = 8001; },
         "latency must be a number from 20 to 8000 ms"},
        {"passphrase of 9", [](SrtSettings& s) { s.passphrase = "123456789"; },
         "passphrase must be empty or 10 to 79 printable ASCII characters"},
        {"passphrase of 10", [](SrtSettings& s) { s.passphrase = "1234567890"; }, ""},
        {"passphrase of 79", [](SrtSettings& s) { s.passphrase = std::string(79, 'p'); }, ""},
        {"passphrase of 80", [](SrtSettings& s) { s.passphrase = std::string(80, 'p'); },
         "passphrase must be empty or 10 to 79 printable ASCII characters"},
        {"passphrase with blanks and signs", [](SrtSettings& s) { s.passphrase = "a b=c;d#e\"f"; },
         ""},
        {"passphrase with a tab", [](SrtSettings& s) { s.passphrase = "1234\t67890"; },
         "passphrase must be empty or 10 to 79 printable ASCII characters"},
        {"passphrase with UTF-8", [](SrtSettings& s) { s.passphrase = "1234567890\xc3\xa9"; },
         "passphrase must be empty or 10 to 79 printable ASCII characters"},
        {"keyLength 24", [](SrtSettings& s) { s.keyLength = 24; }, ""},
        {"keyLength 32", [](SrtSettings& s) { s.keyLength = 32; }, ""},
        {"keyLength 0", [](SrtSettings& s) { s.keyLength = 0; }, "keyLength must be 16, 24 or 32"},
        {"keyLength 128", [](SrtSettings& s) { s.keyLength = 128; },
         "keyLength must be 16, 24 or 32"},
        {"streamId of 512", [](SrtSettings& s) { s.streamId = std::string(512, 's'); }, ""},
        {"streamId of 513", [](SrtSettings& s) { s.streamId = std::string(513, 's'); },
         "streamId must have at most 512 printable ASCII characters"},
        {"streamId with a newline", [](SrtSettings& s) { s.streamId = "a\nb"; },
         "streamId must have at most 512 printable ASCII characters"},
        // A caller that is off may hold an unfinished address; one that is on needs both.
        {"a caller off without address", [](SrtSettings& s) { s.mode = "caller"; }, ""},
        {"a listener with a bad address", [](SrtSettings& s) { s.callerAddr = "bad host"; },
         "callerAddr must be empty, an IPv4 address or a host name"},
        {"a listener with callerPort 70000", [](SrtSettings& s) { s.callerPort = 70000; },
         "callerPort must be 0 or a number from 1 to 65535"},
        {"a caller without address", [](SrtSettings& s) { s = callerAt("", 7001); },
         "callerAddr must be an IPv4 address or host name for a caller"},
        {"a caller at 10.1.2.3", [](SrtSettings& s) { s = callerAt("10.1.2.3", 7001); }, ""},
        {"a caller at 300.1.2.3", [](SrtSettings& s) { s = callerAt("300.1.2.3", 7001); },
         "callerAddr must be an IPv4 address or host name for a caller"},
        {"a caller without port", [](SrtSettings& s) { s = callerAt("10.1.2.3", 0); },
         "callerPort must be a number from 1 to 65535 for a caller"},
    };
    for (const Case& c : cases) {
        SrtSettings s = listener();
        c.change(s);
        EXPECT_EQ(SettingsCheck::srt(s), c.reason) << c.what;
    }
}

TEST(SrtCheck, HostNames) {
    const std::pair<std::string, bool> cases[] = {
        {"localhost", true},
        {"srt-1.example.net", true},
        {"a.b", true},
        {"host9", true},
        {"9host.example", true},
        {std::string(63, 'a') + ".net", true},
        {std::string(64, 'a') + ".net", false},  // label over 63
        {std::string(63, 'a') + "." + std::string(63, 'b') + "." + std::string(63, 'c') + "." +
             std::string(61, 'd'),
         true},  // 253 in all
        {std::string(63, 'a') + "." + std::string(63, 'b') + "." + std::string(63, 'c') + "." +
             std::string(62, 'd'),
         false},  // 254
        {"", false},
        {"-lead.example", false},
        {"trail-.example", false},
        {"two..dots", false},
        {".lead", false},
        {"trail.", false},
        {"under_score", false},
        {"with space", false},
        {"tab\there", false},
        {"1.2.3", false},  // all-digit last label: a broken IPv4 address
        {"10.0.0.300", false},
        {"caf\xc3\xa9", false},
    };
    for (const auto& [name, valid] : cases) {
        EXPECT_EQ(SettingsCheck::isHostName(name), valid) << name;
    }
}

TEST(SrtCheck, TheReasonNeverQuotesThePassphrase) {
    SrtSettings s = listener();
    s.passphrase = "short\"pw";
    const std::string reason = SettingsCheck::srt(s);
    ASSERT_FALSE(reason.empty());
    EXPECT_EQ(reason.find("short"), std::string::npos) << reason;
}

TEST(StreamUrlDocument, SrtKeysFollowOnlyWhileSrtIsOn) {
    enc::StreamUrl url;
    url.rtsp = "rtsp://10.0.0.5:554/main";
    std::string text;
    enc::JsonCast::toJson(url, text);
    EXPECT_EQ(text, R"({"http":"", "rtsp":"rtsp://10.0.0.5:554/main"})");
    url.srtMode = "listener";  // no address: the output is off
    enc::JsonCast::toJson(url, text);
    EXPECT_EQ(text, R"({"http":"", "rtsp":"rtsp://10.0.0.5:554/main"})");
    url.srt = "srt://10.0.0.5:9000";
    enc::JsonCast::toJson(url, text);
    EXPECT_EQ(text,
              R"({"http":"", "rtsp":"rtsp://10.0.0.5:554/main", "srt":"srt://10.0.0.5:9000", )"
              R"("srtMode":"listener"})");
}

}  // namespace
