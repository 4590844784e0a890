// The appliance in software, as the demo runs it: a sandbox board with the demo settings,
// korrin-sim casting both streams over HTTP-TS and Quillon serving the API. Checked the way a
// user would: curl with digest credentials, ffprobe on the stream URLs, the board log.

#include <cjson/cJSON.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <memory>

#include "JsonDoc.h"
#include "KorrinSimProcess.h"
#include "QuillonProcess.h"
#include "TestSupport.h"

namespace {

using e2etest::QuillonProcess;
using testsupport::readFile;
using toolstest::KorrinSimProcess;
using toolstest::probe;
using namespace std::chrono_literals;

using Json = testsupport::JsonDoc;

using Answer = testsupport::HttpAnswer;

constexpr auto kStartDeadline = std::chrono::seconds(40);

bool exitedWith(int status, int code) {
    return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

// Processes whose environment names this board: whatever the pieces started is among them.
std::vector<std::string> processesOfBoard(const std::string& root) {
    const std::string marker = "BOARD_ROOT=" + root;
    std::vector<std::string> found;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return found;
    }
    while (const dirent* entry = readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos ||
            pid == std::to_string(getpid())) {
            continue;
        }
        std::string environ;
        if (!testsupport::fileExists("/proc/" + pid + "/environ")) {
            continue;
        }
        environ = readFile("/proc/" + pid + "/environ");
        size_t at = 0;
        while ((at = environ.find(marker, at)) != std::string::npos) {
            const size_t end = at + marker.size();
            if ((at == 0 || environ[at - 1] == '\0') &&
                (end == environ.size() || environ[end] == '\0')) {
                found.push_back(pid + " " + readFile("/proc/" + pid + "/comm"));
                break;
            }
            at = end;
        }
    }
    closedir(proc);
    return found;
}

class ApplianceTest : public ::testing::Test {
protected:
    void SetUp() override {
        // korrin-sim's listeners take free ports (port 0 in the settings) and report them;
        // the settings then name those ports, as on a device, before Quillon reads them.
        const auto settings = [](const std::string& main, const std::string& sub) {
            return "[master_video]\ncodec=H.264\nresolution=1280*720\nframerate=30\n"
                   "gop=30\nbitrate=2000\n\n"
                   "[master_protocol]\ntsHttpEnabled=1\ntsHttpPort=" +
                   main +
                   "\nrtspEnabled=0\n\n"
                   "[sub_video]\ncodec=H.264\nresolution=640*360\nframerate=30\n"
                   "gop=30\nbitrate=800\n\n"
                   "[sub_protocol]\ntsHttpEnabled=1\ntsHttpPort=" +
                   sub + "\nrtspEnabled=0\n";
        };
        testsupport::writeFile(board.path("/mnt/config/encoder.ini"), settings("0", "0"));
        sim = std::make_unique<KorrinSimProcess>(board.root());
        ASSERT_TRUE(sim->ok()) << sim->output();
        mainPort = sim->waitForPort("main stream: HTTP-TS on port");
        subPort = sim->waitForPort("sub stream: HTTP-TS on port");
        ASSERT_TRUE(mainPort != 0 && subPort != 0) << sim->output();
        testsupport::writeFile(board.path("/mnt/config/encoder.ini"),
                               settings(std::to_string(mainPort), std::to_string(subPort)));
        quillon = std::make_unique<QuillonProcess>(
            std::vector<std::string>{"1"},
            std::map<std::string, std::string>{{"QUILLON_HTTP_PORT", "0"},
                                               {"QUILLON_HTTPS_PORT", "0"},
                                               {"BOARD_NET", ""},
                                               {"LTE_MODULE", ""}});
        webPort = quillon->waitForPort("web server listening on port");
        ASSERT_GT(webPort, 0) << quillon->output();
        // Generous deadlines: two encoders start while other suites load the machine.
        ASSERT_TRUE(quillon->waitForOutput("npt enable:", kStartDeadline)) << quillon->output();
        ASSERT_TRUE(sim->waitForOutput("status records reach", kStartDeadline)) << sim->output();
    }

    void TearDown() override {
        if (quillon) {
            quillon->signal(SIGTERM);
            quillon->waitExit();
        }
    }

    Answer request(const std::string& target, const std::string& body = std::string()) {
        return testsupport::curl(
            "http://127.0.0.1:" + std::to_string(webPort) + target,
            testsupport::digestJson("admin:740163", "", body, board.path("/tmp/request.json")));
    }

    /// Waits until the text field of a GET document has the value; the last value seen.
    bool waitForText(const std::string& target, const char* field, const std::string& value,
                     std::string& seen) {
        return testsupport::waitFor(
            [&] {
                seen = Json(request(target).body).text(field);
                return seen == value;
            },
            20s, 200ms);
    }

    std::string streamUrl(int port) const {
        return "http://127.0.0.1:" + std::to_string(port) + "/";
    }

    testsupport::SandboxBoard board;
    int webPort = 0;
    int mainPort = 0;
    int subPort = 0;
    std::unique_ptr<KorrinSimProcess> sim;
    std::unique_ptr<QuillonProcess> quillon;
};

}  // namespace

// Each test starts korrin-sim and Quillon, so one run checks the status pages, both streams
// and a change of the main stream's settings in turn.
TEST_F(ApplianceTest, StatusStreamsAndNewVideoSettingsReachTheMainStream) {
    // Quillon relays one record per pass of its loop, so each field has its own wait.
    std::string seen;
    EXPECT_TRUE(waitForText("/api/input-status?index=0", "video", "1920 * 1080 P @ 60", seen))
        << seen;
    EXPECT_TRUE(waitForText("/api/input-status?index=0", "type", "HDMI", seen)) << seen;
    EXPECT_TRUE(waitForText("/api/input-status?index=0", "audio", "16 bits PCM 48000", seen))
        << seen;
    EXPECT_TRUE(
        waitForText("/api/stream-status?index=0", "video", "(H.264) 1280 * 720 @ 30 fps", seen))
        << seen;
    EXPECT_TRUE(
        waitForText("/api/stream-status?index=1", "video", "(H.264) 640 * 360 @ 30 fps", seen))
        << seen;
    const Json main(request("/api/stream-status?index=0").body);
    EXPECT_NE(main.text("tsHtttp").find(":" + std::to_string(mainPort)), std::string::npos)
        << main.text("tsHtttp");

    std::string details;
    ASSERT_EQ(probe(streamUrl(mainPort), &details), "h264 1280x720,aac") << details;
    EXPECT_EQ(probe(streamUrl(subPort), &details), "h264 640x360,aac") << details;

    const Answer a = request("/api/video?index=0",
                             "{\"codec\":\"H.264\",\"profile\":\"main\",\"framerate\":30,"
                             "\"field\":0,\"bitmode\":0,\"gop\":30,\"resolution\":\"960*540\","
                             "\"bitrate\":1500,\"tolerate\":0,\"minQp\":15,\"maxQp\":25}");
    ASSERT_EQ(a.status, 200) << a.body;
    const std::string saved = readFile(board.path("/mnt/config/encoder.ini"));
    EXPECT_NE(saved.find("resolution=960*540"), std::string::npos) << saved;
    EXPECT_NE(saved.find("bitrate=1500"), std::string::npos) << saved;

    ASSERT_TRUE(sim->waitForOutput("change code 4707")) << sim->output();
    EXPECT_TRUE(sim->waitForOutput("main stream: encoding H.264 960*540 30fps gop 30 1500kbit/s"))
        << sim->output();
    EXPECT_TRUE(
        waitForText("/api/stream-status?index=0", "video", "(H.264) 960 * 540 @ 30 fps", seen))
        << seen;
    EXPECT_EQ(probe(streamUrl(mainPort), &details), "h264 960x540,aac") << details;
    // The sub stream goes on as it was.
    EXPECT_EQ(sim->output().find("sub stream: restarting"), std::string::npos);
}

// A reboot request only reaches the board log; then SIGTERM stops everything.
TEST_F(ApplianceTest, RebootIsLoggedAndSigtermStopsEverythingLeavingNoProcess) {
    board.clearBoardLog();
    // A plain link (GET) never reboots.
    EXPECT_EQ(request("/api/reboot").status, 405);
    EXPECT_TRUE(board.boardLog().empty());
    const Answer a = request("/api/reboot", "{}");
    EXPECT_EQ(a.status, 200) << a.body;
    EXPECT_TRUE(testsupport::waitFor([&] {
        for (const std::string& line : board.boardLog()) {
            if (line == "/sbin/reboot") {
                return true;
            }
        }
        return false;
    })) << readFile(board.path("/var/log/board.log"));

    // A viewer is connected while the appliance stops.
    testsupport::ChildProcess viewer;
    ASSERT_TRUE(viewer.start(testsupport::curlCommand(
        "http://127.0.0.1:" + std::to_string(mainPort) + "/", {"-o", "/dev/null"}, 30)));
    ASSERT_TRUE(quillon->signal(SIGTERM));
    const int sim_status = sim->stop();
    const int quillon_status = quillon->waitExit(8s);
    viewer.waitExit(8s);  // it sees the connection end
    EXPECT_TRUE(exitedWith(sim_status, 0)) << sim_status << "\n" << sim->output();
    EXPECT_TRUE(exitedWith(quillon_status, 0)) << quillon_status << "\n" << quillon->output();
    EXPECT_NE(quillon->output().find("Get a signal -- SIGTERM"), std::string::npos);
    EXPECT_TRUE(processesOfBoard(board.root()).empty())
        << testing::PrintToString(processesOfBoard(board.root()));
    EXPECT_FALSE(testsupport::fileExists(board.path("/tmp/server.socket")));
    quillon.reset();
}
