// The web API end to end: curl with digest credentials against a CHttpServer with a
// DemoHandler on a sandbox board, the media-process stand-in receiving the change codes.

#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <memory>

#include "CHttpServer.h"
#include "DeviceFixture.h"
#include "LteMonitor.h"
#include "MediaMessage.h"
#include "ModemSimProcess.h"

namespace {

using testsupport::readFile;
using testsupport::shell;

struct Answer {
    int status = 0;
    std::string body;
};

// A parsed JSON reply, freed with the object.
class Json {
public:
    explicit Json(const std::string& text) : m_root(cJSON_Parse(text.c_str())) {}
    ~Json() { cJSON_Delete(m_root); }
    Json(const Json&) = delete;
    Json& operator=(const Json&) = delete;
    bool ok() const { return m_root != nullptr; }
    const cJSON* root() const { return m_root; }
    const cJSON* member(const char* name) const {
        return cJSON_GetObjectItemCaseSensitive(m_root, name);
    }
    std::string text(const char* name) const {
        const cJSON* item = member(name);
        return cJSON_IsString(item) ? item->valuestring : "<not a string>";
    }
    int number(const char* name) const {
        const cJSON* item = member(name);
        return cJSON_IsNumber(item) ? item->valueint : -99999;
    }

private:
    cJSON* m_root;
};

class EndToEndTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        handler = makeHandler();
        server = std::make_unique<CHttpServer>(board.path("/mnt/config/user.htpasswd"));
        server->setDocumentRoot(board.path("/root/custom_files/web/website/"));
        server->setUploadDir(board.path("/var/"));
        server->setListenAddress("127.0.0.1");
        ASSERT_TRUE(server->start(0, handler.get()));
        board.clearBoardLog();
    }

    void TearDown() override {
        if (server) {
            server->stop();
        }
    }

    // One request through curl with the device's digest credentials.
    Answer request(const std::string& method, const std::string& target,
                   const std::string& body = std::string()) {
        std::string data;
        if (!body.empty()) {
            const std::string file = board.path("/tmp/request-body.json");
            testsupport::writeFile(file, body);
            data = " -H 'Content-Type: application/json' --data-binary @" + file;
        }
        std::string out;
        shell("curl -s --max-time 20 --digest -u " + credentials + " -X " + method + data +
                  " -w '\\n%{http_code}' 'http://127.0.0.1:" + std::to_string(server->boundPort()) +
                  target + "'",
              &out);
        Answer answer;
        const size_t split = out.rfind('\n');
        if (split != std::string::npos) {
            answer.body = out.substr(0, split);
            answer.status = std::atoi(out.c_str() + split + 1);
        }
        return answer;
    }

    std::unique_ptr<DemoHandler> handler;
    std::unique_ptr<CHttpServer> server;
    std::string credentials = "admin:740163";
};

TEST_F(EndToEndTest, PostingSubStreamVideoReachesTheMediaProcess) {
    const Answer a =
        request("POST", "/api/video?index=1",
                R"({"codec":"H.264","framerate":60,"gop":1,"bitrate":100,"minQp":45,"maxQp":30})");
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.body, "{}");
    ASSERT_TRUE(standIn->waitForCode(4708));
    EXPECT_EQ(standIn->codes(), std::vector<int>{4708});
    EXPECT_TRUE(logHas("/bin/sync"));

    const auto saved = savedSettings().video[1];
    EXPECT_EQ(saved.framerate, 30);
    EXPECT_EQ(saved.gop, 30);
    EXPECT_EQ(saved.bitrate, 1000);
    EXPECT_EQ(saved.minQp, 30);
    EXPECT_EQ(saved.maxQp, 30);

    const Answer g = request("GET", "/api/video?index=1");
    EXPECT_EQ(g.status, 200);
    Json doc(g.body);
    ASSERT_TRUE(doc.ok()) << g.body;
    EXPECT_EQ(doc.text("codec"), "H.264");
    EXPECT_EQ(doc.number("bitrate"), 1000);
}

TEST_F(EndToEndTest, EveryReadPathAnswers) {
    struct Case {
        const char* target;
        const char* key;
        const char* text;  // expected text of key, nullptr: only present
    };
    const Case cases[] = {
        {"/api/input-status?index=0", "type", nullptr},
        {"/api/stream-status?index=0", "addr", ""},
        {"/api/stream-url?index=1", "http", ""},
        {"/api/network", "mac", nullptr},
        {"/api/wifi", "essid", ""},
        {"/api/video", "codec", "H.265"},
        {"/api/protocol?index=1", "rtspName", "/sub"},
        {"/api/logo?index=1", "name", ""},
        {"/api/chroma?index=0", "brightness", nullptr},
        {"/api/lte", "mask", "255.255.255.255"},
        {"/api/rs485", "baudrate", nullptr},
        {"/api/adjusttime", "year", nullptr},
        {"/api/httpset", "serverIP", ""},
        {"/api/ftplog", "localtimezone", nullptr},
        {"/api/clockSet", "timeServer", ""},
        {"/api/audio", "codec", "AAC"},
        {"/api/output", "typeStr", "HDMI + VGA"},
        {"/api/streamformat", "streamURL", "/main"},
        {"/api/sysinfo", "hardVersion", "HD 2.1 "},
        {"/api/storage", "devSeq", "SANDBOX-0000000001"},
        {"/api/ircutConf", "gpsInterval", nullptr},
        {"/api/httpdetect", "version", ""},
        {"/api/httpupgrade", "serverIP", ""},
    };
    for (const auto& c : cases) {
        const Answer a = request("GET", c.target);
        EXPECT_EQ(a.status, 200) << c.target << " " << a.body;
        Json doc(a.body);
        ASSERT_TRUE(doc.ok()) << c.target << " " << a.body;
        ASSERT_NE(doc.member(c.key), nullptr) << c.target << " " << a.body;
        if (c.text != nullptr) {
            EXPECT_EQ(doc.text(c.key), c.text) << c.target;
        }
    }
    const Answer osd = request("GET", "/api/osd?index=0");
    EXPECT_EQ(osd.status, 200);
    Json overlays(osd.body);
    ASSERT_TRUE(overlays.ok()) << osd.body;
    EXPECT_EQ(cJSON_GetArraySize(overlays.root()), 2);

    Answer a = request("GET", "/api/update-status");
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.body, "finished");
    a = request("POST", "/api/update");
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.body, "{}");
    a = request("POST", "/api/streamformat", R"({"streamURL":"x"})");
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.body, "{}");
}

TEST_F(EndToEndTest, FailuresAnswer500) {
    Answer a = request("GET", "/api/stream-status?index=2");
    EXPECT_EQ(a.status, 500);
    EXPECT_TRUE(Json(a.body).ok()) << a.body;  // the record is still encoded
    a = request("GET", "/api/video?index=9");
    EXPECT_EQ(a.status, 500);
    a = request("GET", "/api/Network");
    EXPECT_EQ(a.status, 500);
    EXPECT_EQ(a.body, "unknown api");
    a = request("DELETE", "/api/video");
    EXPECT_EQ(a.status, 500);
    EXPECT_EQ(a.body, "{}");
    a = request("POST", "/api/network", R"({"ip":"10.0.0.5","mask":"255.255.255"})");
    EXPECT_EQ(a.status, 500);
    a = request("POST", "/api/wifi", R"({"essid":""})");
    EXPECT_EQ(a.status, 500);
    EXPECT_FALSE(testsupport::fileExists(settingsPath()));
    EXPECT_TRUE(board.boardLog().empty());
}

TEST_F(EndToEndTest, WritesReachTheFileTheBoardAndTheMediaProcess) {
    struct Case {
        const char* target;
        const char* body;
        int code;
    };
    const Case cases[] = {
        {"/api/protocol?index=0", R"({"rtspPort":0,"rtspEnabled":true})", 4709},
        {"/api/osd?index=1", R"([{"x":5000,"fontSize":0},{"y":9000}])", 4712},
        {"/api/logo?index=0", R"({"enable":1,"name":"main.bmp"})", 4711},
        {"/api/chroma?index=2", R"({"brightness":70})", 4865},
        {"/api/audio", R"({"codec":"G.711","sampleRate":8000})", 4704},
        {"/api/output", R"({"videoRes":"3840*2160"})", 4706},
        {"/api/storage", R"({"serverIP":"10.3.3.3","place":2})", 4704},
    };
    for (const auto& c : cases) {
        standIn->clear();
        const Answer a = request("POST", c.target, c.body);
        EXPECT_EQ(a.status, 200) << c.target << " " << a.body;
        ASSERT_TRUE(standIn->waitForCode(c.code)) << c.target;
    }
    const auto saved = savedSettings();
    EXPECT_EQ(saved.protocol[0].rtspPort, 554);
    EXPECT_EQ(saved.protocol[0].rtspEnabled, 1);
    EXPECT_EQ(saved.osd[1][0].x, 10);
    EXPECT_EQ(saved.osd[1][0].fontSize, 2);
    EXPECT_EQ(saved.osd[1][1].y, 500);
    EXPECT_EQ(saved.logo[0].name, "main.bmp");
    EXPECT_EQ(saved.chroma[1].brightness, 70);
    EXPECT_EQ(saved.audio.codec, "G.711");
    EXPECT_EQ(saved.output.videoRes, "3840*2160");
    EXPECT_EQ(saved.sysInfo.serverIP, "10.3.3.3");

    Answer a = request("POST", "/api/network",
                       R"({"connectionType":1,"ip":"10.0.0.5","mask":"255.255.255.0",)"
                       R"("gate":"10.0.0.1","dnsFirst":"10.0.0.1"})");
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(readFile(board.path("/mnt/config/net_mode.ini")), "1");
    a = request("POST", "/api/wifi", R"({"essid":"lab","encrypt":0})");
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(readFile(board.path("/mnt/config/wifi_conf_nokey.conf")).find("ssid=\"lab\""),
              std::string::npos);
    a = request("POST", "/api/clockSet", R"({"localtimezone":12,"ftptime":25})");
    EXPECT_EQ(a.status, 200);
    Json ftp(request("GET", "/api/ftplog").body);
    EXPECT_EQ(ftp.number("localtimezone"), 8);
    EXPECT_EQ(ftp.number("ftptime"), 1);
    a = request("POST", "/api/ircutConf", R"({"gpsInterval":5})");
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(Json(request("GET", "/api/ircutConf").body).number("gpsInterval"), 20);
    a = request("POST", "/api/httpset", R"({"serverIP":"10.4.4.4"})");
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(Json(request("GET", "/api/httpupgrade").body).text("serverIP"), "10.4.4.4");
}

TEST_F(EndToEndTest, RebootResetAndSerialBridgeRunTheBoardCommands) {
    Answer a = request("DELETE", "/api/reboot");
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(board.boardLog(), std::vector<std::string>{"/sbin/reboot"});
    board.clearBoardLog();
    a = request("POST", "/api/rs485", R"({"baudrate":9600})");
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(board.boardLog(), (std::vector<std::string>{"/bin/sync", "/sbin/reboot"}));
    board.clearBoardLog();
    a = request("GET", "/api/reset");
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(board.boardLog(), (std::vector<std::string>{"sync", "/sbin/reboot"}));
}

TEST_F(EndToEndTest, PasswordChangeIsStoredInTheSettings) {
    std::string out;
    shell(
        "curl -s --max-time 20 --digest -u admin:740163 -o /dev/null -w '%{http_code}' "
        "--data 'user=admin&password=n3w-pass' 'http://127.0.0.1:" +
            std::to_string(server->boundPort()) + "/sys/password'",
        &out);
    EXPECT_EQ(out, "200");
    const auto saved = savedSettings();
    EXPECT_EQ(saved.author, "admin");
    EXPECT_EQ(saved.pwd, "n3w-pass");
    EXPECT_EQ(request("GET", "/api/audio").status, 401);
    credentials = "admin:n3w-pass";
    EXPECT_EQ(request("GET", "/api/audio").status, 200);
}

// The modem's answers travel from modem-sim through the monitor thread and the handler to
// the JSON document; the waits are shortened so a monitoring cycle takes milliseconds.
TEST_F(EndToEndTest, LteAnswerReportsTheSimulatedModem) {
    testsupport::ScopedEnv module("LTE_MODULE", "EC20");
    devicetest::ModemSimProcess sim(board.path("/dev/ttyUSB4"), {"--csq", "23,99"});
    ASSERT_TRUE(sim.ok());
    enc::LteTimings timings;
    timings.startupRetry = std::chrono::milliseconds(2);
    timings.imeiRetry = std::chrono::milliseconds(2);
    timings.shortStep = std::chrono::milliseconds(1);
    timings.longStep = std::chrono::milliseconds(2);
    timings.radioPause = std::chrono::milliseconds(2);
    timings.answerWait = std::chrono::milliseconds(2);
    timings.byteGap = std::chrono::microseconds(0);
    enc::LteState lte;
    enc::LteMonitor monitor(lte, timings);
    DemoHandler lteHandler(link, media, std::string(), &lte);
    server->setHandler(&lteHandler);
    ASSERT_TRUE(monitor.begin());
    const bool reported = testsupport::waitFor([&] {
        const enc::LteSnapshot s = lte.snapshot();
        return s.signal == 23 && !s.operatorName.empty();
    });

    const Answer a = request("GET", "/api/lte");
    EXPECT_TRUE(monitor.end(3000));
    server->setHandler(handler.get());
    ASSERT_TRUE(reported);
    EXPECT_EQ(a.status, 200);
    Json doc(a.body);
    ASSERT_TRUE(doc.ok()) << a.body;
    EXPECT_EQ(doc.number("state"), 1);
    EXPECT_EQ(doc.text("server"), "中国联通");
    EXPECT_EQ(doc.number("signal"), 23);
    EXPECT_EQ(doc.text("iccid"), "89860012345678901234");
    EXPECT_EQ(doc.number("esimActive"), 1);  // the monitor recorded the module's IMEI
    EXPECT_EQ(doc.text("mask"), "255.255.255.255");
}

}  // namespace
