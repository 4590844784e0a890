// The SRT settings end to end below HTTP: the dispatcher over the device handler on a sandbox
// board, with the media-process stand-in on the link. What is stored, what is refused, which
// change code arrives, and that the passphrase shows up nowhere but in the settings file.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceFixture.h"
#include "EncoderHttpHandler.h"
#include "LiveStatus.h"
#include "MediaMessage.h"
#include "SettingsCheck.h"

namespace {

constexpr const char* kSecret = "Sesame-Open-4711";
// The settings file before the tests change it: a foreign section and a comment that must
// survive, and a stored SRT passphrase.
constexpr const char* kStartFile =
    "; kept by hand\n[custom]\nanswer=42\n\n[master_srt]\nenabled=0\nmode=listener\nport=9000\n"
    "passphrase=Sesame-Open-4711\n";

class SrtSettingsTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        writeSettings(kStartFile);
        handler = makeHandler();
        api = std::make_unique<enc::EncoderHttpHandler>(*handler);
    }

    int call(const char* method, const std::string& path, int index, const std::string& body) {
        response = "{}";
        return api->handleApi(method, path, "index=" + std::to_string(index), body, response);
    }

    std::unique_ptr<DemoHandler> handler;
    std::unique_ptr<enc::EncoderHttpHandler> api;
};

TEST_F(SrtSettingsTest, EachBadValueIsRefusedWithItsReasonAndNothingIsSavedOrSent) {
    struct Case {
        const char* body;
        const char* reason;
    };
    // Every rule is checked on SettingsCheck::srt; here, that a refusal reaches the reply
    // whole and changes nothing, for both streams.
    const Case cases[] = {
        {R"({"mode":"rendezvous"})", "mode must be listener or caller"},
        {R"({"passphrase":"short"})",
         "passphrase must be empty or 10 to 79 printable ASCII characters"},
        {R"({"enabled":1,"mode":"caller","callerAddr":"10.0.0.9","callerPort":0})",
         "callerPort must be a number from 1 to 65535 for a caller"},
    };
    const std::string before = settingsText();
    for (const Case& c : cases) {
        for (int index : {0, 1}) {
            EXPECT_EQ(call("POST", "/srt", index, c.body), -1) << c.body;
            EXPECT_EQ(response, enc::SettingsCheck::errorDocument(c.reason)) << c.body;
            EXPECT_EQ(settingsText(), before) << c.body;
        }
    }
    // Control characters never reach the device.
    EXPECT_EQ(call("POST", "/srt", 0, R"({"streamId":"a\nb"})"),
              enc::EncoderHttpHandler::kBadRequest);
    EXPECT_EQ(settingsText(), before);
    EXPECT_TRUE(board.boardLog().empty());  // no sync either

    // Datagrams arrive in order: the code of a good save is the first one the stand-in sees.
    ASSERT_EQ(call("POST", "/srt", 1, R"({"latency":200})"), 0);
    ASSERT_TRUE(standIn->waitForCode(enc::kCodeSubProtocol));
    EXPECT_EQ(standIn->codes(), std::vector<int>{enc::kCodeSubProtocol});
}

TEST_F(SrtSettingsTest, AGoodPostIsStoredAndTellsTheMediaProcessItsStream) {
    struct Case {
        int index;
        int code;
        const char* section;
    };
    for (const Case& c : {Case{0, enc::kCodeMainProtocol, "[master_srt]"},
                          Case{1, enc::kCodeSubProtocol, "[sub_srt]"}}) {
        standIn->clear();
        board.clearBoardLog();
        ASSERT_EQ(call("POST", "/srt", c.index,
                       R"({"enabled":1,"mode":"caller","port":9100,"callerAddr":"rx.example.net",)"
                       R"("callerPort":7001,"latency":250,"passphrase":"a b=c;d#e-f",)"
                       R"("keyLength":32,"streamId":"#!::r=live"})"),
                  0)
            << response;
        EXPECT_EQ(response, "{}");
        ASSERT_TRUE(standIn->waitForCode(c.code)) << c.index;
        EXPECT_EQ(standIn->codes(), std::vector<int>{c.code});
        EXPECT_EQ(board.boardLog(), std::vector<std::string>{}) << "the save syncs itself";

        const std::string text = settingsText();
        EXPECT_NE(text.find(c.section), std::string::npos) << text;
        EXPECT_NE(text.find("\npassphrase=a b=c;d#e-f\n"), std::string::npos) << text;
        EXPECT_EQ(text.rfind("; kept by hand\n", 0), 0u) << text;
        EXPECT_NE(text.find("[custom]\nanswer=42\n"), std::string::npos) << text;
        const enc::SrtSettings st = savedSettings().srt[c.index];
        EXPECT_EQ(st.mode + "|" + st.callerAddr + "|" + st.passphrase + "|" + st.streamId,
                  "caller|rx.example.net|a b=c;d#e-f|#!::r=live");
        EXPECT_EQ(std::vector<int>({st.enabled, st.port, st.callerPort, st.latency, st.keyLength}),
                  std::vector<int>({1, 9100, 7001, 250, 32}));
    }
    // A new section is written in the table's order.
    EXPECT_NE(settingsText().find("[sub_srt]\nenabled=1\nmode=caller\nport=9100\n"
                                  "callerAddr=rx.example.net\ncallerPort=7001\nlatency=250\n"
                                  "passphrase=a b=c;d#e-f\nkeyLength=32\nstreamId=#!::r=live\n"),
              std::string::npos)
        << settingsText();

    EXPECT_EQ(call("POST", "/srt", 2, R"({"latency":300})"), -1);
    EXPECT_EQ(call("GET", "/srt", -1, ""), -1);
}

TEST_F(SrtSettingsTest, ThePassphraseAppearsInNoReplyAndNoLog) {
    const std::string other = "Other-Secret-0815";
    std::vector<std::string> replies;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const std::pair<const char*, std::string> requests[] = {
        {"GET", "/srt"},
        {"POST", "/srt"},  // enables the listener, keeps the stored
                           // passphrase
        {"POST", "/srt"},  // refused (latency), with a new passphrase in the body
        {"GET", "/srt"},
        {"GET", "/stream-url"},
        {"GET", "/stream-status"},
        {"GET", "/protocol"},
        {"POST", "/ftplog"},  // the FTP password is a secret of the same kind
    };
    int post = 0;
    for (const auto& [method, path] : requests) {
        std::string body;
        if (path == "/ftplog") {
            body = R"({"ftpserverIP":"10.0.0.9","username":"u","fpassword":")" + other + R"("})";
        } else if (std::string(method) == "POST") {
            body = post++ == 0 ? R"({"enabled":1})"
                               : R"({"passphrase":")" + other + R"(","latency":1})";
        }
        call(method, path, 0, body);
        replies.push_back(response);
    }
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(standIn->waitForCode(enc::kCodeMainProtocol));

    for (const std::string& secret : {std::string(kSecret), other}) {
        for (const std::string& reply : replies) {
            EXPECT_EQ(reply.find(secret), std::string::npos) << reply;
        }
        EXPECT_EQ(out.find(secret), std::string::npos) << out;
        EXPECT_EQ(err.find(secret), std::string::npos) << err;
        for (const std::string& line : board.boardLog()) {
            EXPECT_EQ(line.find(secret), std::string::npos) << line;
        }
    }
    EXPECT_EQ(replies[2],
              enc::SettingsCheck::errorDocument("latency must be a number from 20 to 8000 ms"));
    EXPECT_EQ(savedSettings().srt[0].passphrase, kSecret);  // stored, only in the file
}

TEST_F(SrtSettingsTest, StreamUrlNamesTheSrtAddressOnlyWhileItIsOn) {
    const std::string device = enc::LiveStatus::deviceAddress();
    ASSERT_EQ(call("GET", "/stream-url", 0, ""), 0);
    const std::string off = response;
    EXPECT_EQ(off.find("srt"), std::string::npos) << off;

    struct Case {
        const char* body;
        std::string tail;  // what follows the document's rtsp key
    };
    const Case cases[] = {
        {R"({"enabled":1,"mode":"listener","port":9005})",
         R"(, "srt":"srt://)" + device + R"(:9005", "srtMode":"listener"})"},
        {R"({"enabled":1,"mode":"caller","callerAddr":"rx.example.net","callerPort":7001})",
         R"(, "srt":"srt://rx.example.net:7001", "srtMode":"caller"})"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(call("POST", "/srt", 0, c.body), 0) << response;
        ASSERT_EQ(call("GET", "/stream-url", 0, ""), 0);
        EXPECT_EQ(response, off.substr(0, off.size() - 1) + c.tail);
    }
    // The sub stream's document is not touched by the main stream's output.
    ASSERT_EQ(call("GET", "/stream-url", 1, ""), 0);
    EXPECT_EQ(response.find("srt"), std::string::npos) << response;
    ASSERT_EQ(call("POST", "/srt", 0, R"({"enabled":0})"), 0);
    ASSERT_EQ(call("GET", "/stream-url", 0, ""), 0);
    EXPECT_EQ(response, off);
}

}  // namespace
