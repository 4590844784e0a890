// Quillon as a process on a sandbox board: the command line and its modes, the web server
// with digest credentials on QUILLON_HTTP_PORT, the relay of the media process's status
// records, a firmware upload written to the emulated flash, the LTE modem through
// modem-sim, and the signals that end it.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <thread>

#include "MediaStandIn.h"
#include "ModemSimProcess.h"
#include "QuillonProcess.h"
#include "TestSupport.h"

namespace {

using e2etest::QuillonProcess;
using testsupport::readFile;
using testsupport::shell;
using testsupport::splitLines;
using testsupport::writeFile;
using namespace std::chrono_literals;

// Longest a stopped server may take here: one pass of the main loop is at most about
// 3.1 s, with room for a loaded machine. A synchronisation sleeping its 15 s would miss it.
constexpr auto kStopDeadline = 8s;

constexpr size_t kFlashBlock = 65536;

bool exitedWith(int status, int code) {
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

using Answer = testsupport::HttpAnswer;

class QuillonTest : public ::testing::Test {
protected:
    void writeSettings(const std::string& text) const {
        writeFile(board.path("/mnt/config/encoder.ini"), text);
    }
    bool logHas(const std::string& line) const {
        for (const auto& l : board.boardLog()) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }

    // Runs a mode that ends by itself.
    std::unique_ptr<QuillonProcess> runToEnd(const std::vector<std::string>& args) {
        auto p = std::make_unique<QuillonProcess>(args, environment());
        status = p->waitExit();
        return p;
    }

    // "Quillon 1", ready once it has printed the time synchronisation line (the last line
    // of its start-up, after the server started).
    // Ports 0: Quillon binds free ones and reports them.
    std::unique_ptr<QuillonProcess> startServer(std::map<std::string, std::string> env = {}) {
        env["QUILLON_HTTP_PORT"] = "0";
        env["QUILLON_HTTPS_PORT"] = "0";
        for (const auto& [name, value] : environment()) {
            env.emplace(name, value);
        }
        auto p = std::make_unique<QuillonProcess>(std::vector<std::string>{"1"}, env);
        port = p->waitForPort("web server listening on port");
        httpsPort = p->waitForPort("https listening on port");
        EXPECT_GT(port, 0) << p->output();
        EXPECT_TRUE(p->waitForOutput("npt enable:")) << p->output();
        return p;
    }

    // Stops the server as the boot scripts do and checks it ends well.
    void stop(QuillonProcess& p, int sig = SIGTERM) {
        ASSERT_TRUE(p.signal(sig));
        EXPECT_TRUE(exitedWith(p.waitExit(kStopDeadline), 0)) << p.output();
    }

    Answer request(const std::string& target, const std::string& curlOptions = std::string(),
                   const std::string& credentials = "admin:740163") {
        const std::string auth = credentials.empty() ? "" : "--digest -u " + credentials + " ";
        return testsupport::curl("http://127.0.0.1:" + std::to_string(port) + target,
                                 auth + curlOptions);
    }

    // Network changes are only logged in the sandbox, and no modem is named unless a test
    // says so.
    static std::map<std::string, std::string> environment() {
        return {{"BOARD_NET", ""},
                {"LTE_MODULE", ""},
                {"QUILLON_HTTP_PORT", ""},
                {"QUILLON_HTTPS_PORT", ""}};
    }

    testsupport::SandboxBoard board;
    int status = -1;
    int port = 0;
    int httpsPort = 0;
};

TEST_F(QuillonTest, WithoutModePrintsUsageAndExits255) {
    auto p = runToEnd({});
    EXPECT_TRUE(exitedWith(status, 255));
    EXPECT_EQ(p->output(),
              "usage ./Quillon 0 or 1 or 2\n"
              "0: set net, 1: start web server, 2: copy wifi configure file\n");
}

TEST_F(QuillonTest, UnknownModesOnlySetTheNetworkInterface) {
    writeSettings(
        "[network]\nconnectionType=0\ndhcp=0\nip=10.0.0.5\nmask=255.255.255.0\n"
        "gate=10.0.0.1\ndns0=10.0.0.53\ndns1=\n");
    // Which arguments select which mode is checked on programMode; here, the dispatch.
    for (const char* mode : {"0", "abc"}) {
        writeFile(board.path("/etc/resolv.conf"), "nameserver 192.0.2.1\n");
        auto p = runToEnd({mode, "ignored"});
        EXPECT_TRUE(exitedWith(status, 0)) << mode;
        const auto lines = splitLines(p->output());
        ASSERT_GE(lines.size(), 2u) << mode;
        // "build at : Mmm dd yyyy", the compiler's date format.
        EXPECT_EQ(lines[0].rfind("build at : ", 0), 0u) << mode;
        EXPECT_EQ(lines[0].size(), std::strlen("build at : ") + std::strlen("Jan  9 2024"));
        EXPECT_EQ(lines[1], "only set net interface") << mode;
        EXPECT_EQ(readFile(board.path("/etc/resolv.conf")), "nameserver 10.0.0.53\n") << mode;
        EXPECT_EQ(p->output().find("start web server"), std::string::npos) << mode;
    }
}

// Which file for which encryption is checked on the boot mode itself.
TEST_F(QuillonTest, Mode2CopiesThePreparedWifiFile) {
    const std::string source = "/mnt/config/wifi_conf_key.conf";
    writeSettings("[network]\nconnectionType=1\n[wifi]\nencrypt=1\n");
    writeFile(board.path(source), "network={ with key }\n");
    board.clearBoardLog();
    auto p = runToEnd({"2"});
    EXPECT_TRUE(exitedWith(status, 0));
    EXPECT_NE(p->output().find("generate wifi configure file.\n"), std::string::npos);
    EXPECT_EQ(board.boardLog(), std::vector<std::string>{"cp " + source + "  /var/wifi.conf"});
    EXPECT_EQ(readFile(board.path("/var/wifi.conf")), "network={ with key }\n");
}

// The API and pages with digest credentials, a settings change and a firmware upload
// written to the emulated flash, with the media-process stand-in on the link.
TEST_F(QuillonTest, WebServerServesTheApiPagesAndUploadsWithDigestCredentials) {
    testsupport::MediaStandIn standIn(board.path("/tmp/server.socket"),
                                      board.path("/tmp/client.socket"));
    ASSERT_TRUE(standIn.ok());
    writeSettings("[server]\ntime_mode=1\ncycle=0\ntimeServer=\n");
    auto p = startServer();
    EXPECT_NE(p->output().find("npt enable:1, interval:4, server:pool.ntp.org\n"),
              std::string::npos)
        << p->output();
    EXPECT_NE(p->output().find("load web path:" + board.path("/root/custom_files/web/website/")),
              std::string::npos);

    Answer a = request("/api/video?index=0");
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(a.body.find("\"codec\""), std::string::npos) << a.body;
    EXPECT_EQ(request("/api/video?index=0", "", "").status, 401);
    EXPECT_EQ(request("/api/video?index=0", "", "admin:wrong").status, 401);
    a = request("/");
    EXPECT_EQ(a.status, 200);
    // "/" is the web root's index.html, the project's pages or the board's placeholder.
    EXPECT_EQ(a.body, readFile(board.path("/root/custom_files/web/website/index.html")));

    a = request("/api/audio", "-H 'Content-Type: application/json' -d '{\"codec\":\"G.711\"}'");
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(readFile(board.path("/mnt/config/encoder.ini")).find("G.711"), std::string::npos);

    testsupport::TempDir dir;
    const std::string content = testsupport::flashImage(3 * kFlashBlock + 10);
    writeFile(dir.file("image"), content);
    ASSERT_TRUE(standIn.waitForCode(4704));  // the audio change
    standIn.clear();
    board.clearBoardLog();
    a = request("/upload", "-F 'file=@" + dir.file("image") + ";filename=rootfs_sqfs.img'");
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(a.body.find("Written 196618 of POST data to file:"), std::string::npos) << a.body;
    ASSERT_TRUE(testsupport::waitFor([&] { return logHas("/sbin/reboot"); })) << p->output();
    EXPECT_EQ(standIn.codes(), std::vector<int>{100});
    // The padding is checked on the upload handler.
    EXPECT_EQ(readFile(board.path("/dev/mtd2")).substr(0, content.size()), content);
    EXPECT_NE(p->output().find("write image OK"), std::string::npos);

    // The first pass synchronises the clock (time_mode 1); its 15 s wait must not hold up
    // the stop.
    EXPECT_TRUE(p->waitForOutput("start NTP"));
    stop(*p);
    EXPECT_NE(p->output().find("Get a signal -- SIGTERM\n"), std::string::npos);
}

// A version check against a server that never answers waits on its own: everyone else is
// still served meanwhile (the bound is generous; the check itself takes about 10 s).
TEST_F(QuillonTest, ARemoteCheckOnAStalledServerKeepsNoOneWaiting) {
    const testsupport::TakenPort silent;  // a listener that never accepts
    ASSERT_NE(silent.port(), 0);
    auto p = startServer();
    const std::string server = "127.0.0.1:" + std::to_string(silent.port());
    Answer detect;
    std::thread detecting([&] {
        detect = request("/api/httpdetect",
                         "-H 'Content-Type: application/json' -d "
                         "'{\"serverIP\":\"" +
                             server + "\"}'");
    });
    EXPECT_TRUE(testsupport::waitFor([&] {
        return logHas("/etc/upgrade_remote.sh " + server + " version.txt");
    })) << p->output();
    const auto start = std::chrono::steady_clock::now();
    const Answer other = request("/api/network");
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_EQ(other.status, 200);
    EXPECT_LT(took.count(), 2000) << "ms";
    detecting.join();
    EXPECT_EQ(detect.status, 200);
    EXPECT_NE(detect.body.find("\"version\":\"\""), std::string::npos) << detect.body;
    stop(*p);
}

TEST_F(QuillonTest, PortInUseEndsTheProgramWithStatus1) {
    const testsupport::TakenPort holder;
    ASSERT_NE(holder.port(), 0);
    const int taken = holder.port();

    auto env = environment();
    env["QUILLON_HTTP_PORT"] = std::to_string(taken);
    env["QUILLON_HTTPS_PORT"] = "0";
    QuillonProcess p({"1"}, env);
    EXPECT_TRUE(exitedWith(p.waitExit(), 1)) << p.output();
    EXPECT_NE(p.output().find("\nweb server can not bind port : " + std::to_string(taken) +
                              "\n, exit !!!"),
              std::string::npos)
        << p.output();
}

// Without a password file it can keep, Quillon does not serve at all.
TEST_F(QuillonTest, NoPasswordFileNoServer) {
    for (const char* how : {"missing", "not a directory"}) {
        testsupport::SandboxBoard fresh;
        const std::string config = fresh.path("/mnt/config");
        ASSERT_EQ(shell("rm -rf '" + config + "'"), 0);
        if (std::string(how) == "not a directory") {
            writeFile(config, "");
        }
        auto env = environment();
        env["BOARD_ROOT"] = fresh.root();
        env["QUILLON_HTTP_PORT"] = "0";
        env["QUILLON_HTTPS_PORT"] = "0";
        QuillonProcess p({"1"}, env);
        EXPECT_TRUE(exitedWith(p.waitExit(), 1)) << how << "\n" << p.output();
        EXPECT_NE(p.output().find("not serving without authentication"), std::string::npos)
            << how << "\n"
            << p.output();
        EXPECT_EQ(p.output().find("web server listening on port"), std::string::npos) << how;
    }
}

// HTTPS answers as HTTP does, with a certificate of the device's own that a client can pin;
// it survives a restart and differs from another device's; httpsOnly redirects plain HTTP.
TEST_F(QuillonTest, HttpsBesideHttpWithTheDevicesOwnCertificate) {
    auto p = startServer();
    ASSERT_GT(httpsPort, 0) << p->output();
    const std::string cert = board.path("/mnt/config/https-cert.pem");
    const std::string key = board.path("/mnt/config/https-key.pem");
    struct stat st {};
    ASSERT_EQ(::stat(key.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(cert.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string pinned = readFile(cert);

    // The port of the running server (a restart gets a new one).
    const auto https = [&] { return "https://127.0.0.1:" + std::to_string(httpsPort); };
    const std::string pinnedCert = "--cacert '" + cert + "' ";
    const auto secure = [&](const std::string& target, const std::string& options = "") {
        return testsupport::curl(https() + target,
                                 "--digest -u admin:740163 " + pinnedCert + options);
    };
    const Answer plain = request("/api/video?index=0");
    ASSERT_EQ(plain.status, 200);
    const auto same = [](const Answer& a, const std::string& body) {
        return a.status == 200 && a.body == body;
    };
    EXPECT_TRUE(same(secure("/api/video?index=0"), plain.body));
    EXPECT_TRUE(
        same(secure("/"), readFile(board.path("/root/custom_files/web/website/index.html"))));
    EXPECT_EQ(secure("/api/video?index=0", "-o /dev/null -u admin:wrong").status, 401);
    EXPECT_EQ(testsupport::curl(https() + "/", "-o /dev/null").status, 0)
        << "a client that does not know the certificate refuses it";

    // Each stop signal ends the server with status 0 (SIGTERM: see the web server test).
    stop(*p, SIGINT);
    EXPECT_NE(p->output().find("Get a signal -- SIGINT\n"), std::string::npos) << p->output();
    p = startServer();
    EXPECT_EQ(readFile(cert), pinned) << "reused after a restart";
    EXPECT_TRUE(same(secure("/api/video?index=0"), request("/api/video?index=0").body));

    // httpsOnly in the settings file (as the system page writes it) turns plain HTTP into
    // redirects while it is set, without a restart.
    const std::string settings = readFile(board.path("/mnt/config/encoder.ini"));
    writeSettings(settings + "\n[security]\nhttpsOnly=1\n");
    const std::string plainUrl = "http://127.0.0.1:" + std::to_string(port);
    const Answer moved = testsupport::curl(plainUrl + "/api/video?index=0", "-o /dev/null");
    EXPECT_EQ(moved.status, 301);
    EXPECT_EQ(moved.redirect, https() + "/api/video?index=0");
    EXPECT_EQ(testsupport::curl(plainUrl + "/", "-o /dev/null -I").status, 301);
    const Answer post = request("/api/audio", "-d '{}'");
    EXPECT_EQ(post.status, 403);
    EXPECT_NE(post.body.find("HTTPS"), std::string::npos) << post.body;
    // Followed, with the pinned certificate, the redirect lands on the same document.
    const Answer followed =
        testsupport::curl(plainUrl + "/api/video?index=0",
                          "--location-trusted --digest -u admin:740163 " + pinnedCert);
    EXPECT_EQ(followed.status, 200) << followed.body;

    writeSettings(settings + "\n[security]\nhttpsOnly=0\n");
    EXPECT_EQ(request("/api/video?index=0").status, 200);
    stop(*p, SIGUSR1);
    EXPECT_NE(p->output().find("Get a signal -- SIGUSR1\n"), std::string::npos) << p->output();

    testsupport::SandboxBoard other;
    auto q = startServer({{"BOARD_ROOT", other.root()}});
    const std::string otherCert = readFile(other.path("/mnt/config/https-cert.pem"));
    EXPECT_FALSE(otherCert.empty());
    EXPECT_NE(otherCert, pinned) << "every device its own";
    stop(*q);
}

TEST_F(QuillonTest, LteModeReportsTheSimulatedModemAndStillStopsPromptly) {
    devicetest::ModemSimProcess sim(board.path("/dev/ttyUSB4"), {"--csq", "21,99"});
    ASSERT_TRUE(sim.ok());
    writeSettings("[network]\nconnectionType=2\n[server]\ntime_mode=0\ncycle=0\n");
    auto p = startServer({{"LTE_MODULE", "EC20"}});
    // LTE mode synchronises the clock even with time_mode 0.
    EXPECT_NE(p->output().find("npt enable:0, interval:4, server:pool.ntp.org\n"),
              std::string::npos);
    EXPECT_TRUE(p->waitForOutput("start NTP"));

    // The monitor runs with the device's own waits: start-up checks, then one cycle.
    Answer a;
    EXPECT_TRUE(testsupport::waitFor(
        [&] {
            a = request("/api/lte");
            return a.body.find("\"signal\":21") != std::string::npos;
        },
        30s, 200ms))
        << a.body << "\n"
        << p->output();
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(a.body.find("\"state\":1"), std::string::npos) << a.body;
    EXPECT_NE(a.body.find("\"server\":\"中国联通\""), std::string::npos) << a.body;
    EXPECT_NE(a.body.find("\"iccid\":\"89860012345678901234\""), std::string::npos) << a.body;
    EXPECT_EQ(readFile(board.path("/mnt/config/active_sim")), "866123456789012");

    stop(*p);
    EXPECT_NE(p->output().find("gprs monitor exit"), std::string::npos) << p->output();
}

}  // namespace
