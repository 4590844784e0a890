#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <net/route.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstring>

#include "TestSupport.h"
#include "board/Board.h"
#include "board/Command.h"
#include "board/Device.h"
#include "board/System.h"

namespace {

using testsupport::readFile;
using testsupport::SandboxBoard;
using testsupport::ScopedEnv;
using testsupport::writeFile;

// A root (trailing slash dropped) is put before absolute board paths; unset or "/" is the
// appliance itself, where paths stay as they are.
TEST(BoardPaths, RootIsPrefixedToAbsolutePathsInTheSandboxOnly) {
    const struct {
        const char* root;
        bool sandbox;
        const char* in;
        const char* out;
    } cases[] = {
        {"/tmp/some/board/", true, "/mnt/config/encoder.ini",
         "/tmp/some/board/mnt/config/encoder.ini"},
        {"/tmp/some/board/", true, "relative/file", "relative/file"},
        {nullptr, false, "/dev/mtd1", "/dev/mtd1"},
        {"/", false, "/tmp/uid.txt", "/tmp/uid.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.root ? c.root : "unset");
        ScopedEnv env("BOARD_ROOT", c.root);
        EXPECT_EQ(board::isSandbox(), c.sandbox);
        EXPECT_EQ(board::path(c.in), c.out);
        if (c.sandbox) {
            EXPECT_EQ(board::root(), "/tmp/some/board");
        } else {
            EXPECT_EQ(board::logPath(), "");
        }
    }
}

TEST(BoardCommand, SandboxRunsTheStubAndLogsTheCommandLine) {
    SandboxBoard b;
    b.clearBoardLog();
    writeFile(b.path("/var/add_1.jpg"), "picture");
    int status = board::run({"cp", "/var/add_1.jpg", "/mnt/param/"});
    EXPECT_TRUE(board::succeeded(status));
    EXPECT_EQ(readFile(b.path("/mnt/param/add_1.jpg")), "picture");
    EXPECT_TRUE(board::succeeded(board::run({"/sbin/reboot"})));
    EXPECT_EQ(b.boardLog(),
              (std::vector<std::string>{"cp /var/add_1.jpg /mnt/param/", "/sbin/reboot"}));
}

TEST(BoardCommand, ProgramsAreNeverLookedUpOnTheHost) {
    SandboxBoard b;
    b.clearBoardLog();
    // Both exist on any host; neither exists inside the sandbox.
    int status = board::run({"true"});
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 127);
    status = board::run({"/usr/bin/env"});
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 127);
    EXPECT_EQ(board::resolveProgram("ls"), "");
    EXPECT_EQ(board::resolveProgram("../../bin/ls"), "");
    EXPECT_EQ(board::resolveProgram("sync"), b.path("/bin/sync"));
    EXPECT_EQ(board::resolveProgram("/usr/sbin/nvram_set"), b.path("/usr/sbin/nvram_set"));
    EXPECT_EQ(b.boardLog(), (std::vector<std::string>{"true", "/usr/bin/env"}));
}

TEST(BoardCommand, ArgumentsAreNeverInterpretedByAShell) {
    SandboxBoard b;
    b.clearBoardLog();
    const std::string evil = "x; touch /tmp/owned-$$ `id` $(reboot)";
    ASSERT_TRUE(board::succeeded(board::run({"/usr/sbin/nvram_set", "boot", "UID", evil})));
    std::string out;
    board::RunOptions capture;
    capture.capture = &out;
    ASSERT_TRUE(board::succeeded(board::run({"/usr/sbin/nvram_get", "boot", "UID"}, capture)));
    EXPECT_EQ(out, evil + "\n");
    EXPECT_EQ(b.boardLog()[0], "/usr/sbin/nvram_set boot UID " + evil);
}

// Output redirected to a board file lands there and is logged as a shell would show it; an
// explicit log text is logged as given.
TEST(BoardCommand, RedirectedOutputAndExplicitLogText) {
    SandboxBoard b;
    b.clearBoardLog();
    board::run({"/usr/sbin/nvram_set", "boot", "UID", "ABC123"});
    board::RunOptions opts;
    opts.stdoutTo = "/tmp/uid.txt";
    ASSERT_TRUE(board::succeeded(board::run({"/usr/sbin/nvram_get", "boot", "UID"}, opts)));
    EXPECT_EQ(readFile(b.path("/tmp/uid.txt")), "ABC123\n");
    EXPECT_EQ(b.boardLog()[1], "/usr/sbin/nvram_get boot UID > /tmp/uid.txt");

    writeFile(b.path("/mnt/config/wifi_conf_key.conf"), "k");
    board::RunOptions logged;
    logged.logText = "cp /mnt/config/wifi_conf_key.conf  /var/wifi.conf";
    ASSERT_TRUE(board::succeeded(
        board::run({"cp", "/mnt/config/wifi_conf_key.conf", "/var/wifi.conf"}, logged)));
    EXPECT_EQ(b.boardLog()[2], logged.logText);
    EXPECT_EQ(readFile(b.path("/var/wifi.conf")), "k");
}

// Values from requests reach board.log inside command lines; none may start a line of its
// own that reads like a command the device ran.
TEST(BoardCommand, ControlCharactersInLoggedValuesCannotForgeLines) {
    SandboxBoard b;
    b.clearBoardLog();
    board::run({"/usr/sbin/nvram_set", "boot", "UID", "x\n/sbin/reboot\r\t\x1b[2J\x7f\\n"});
    const char forged[] = "stime 1\n\0ioctl SIOCSIFADDR eth0 6.6.6.6";
    board::logLine(std::string(forged, sizeof forged - 1));
    EXPECT_EQ(b.boardLog(),
              (std::vector<std::string>{
                  "/usr/sbin/nvram_set boot UID x\\n/sbin/reboot\\r\\t\\x1b[2J\\x7f\\\\n",
                  "stime 1\\n\\x00ioctl SIOCSIFADDR eth0 6.6.6.6"}));
    const struct {
        const char* text;
        const char* escaped;
    } cases[] = {{"plain text, UTF-8 \xc3\xa9", "plain text, UTF-8 \xc3\xa9"},
                 {"a\\nb", "a\\\\nb"},  // a backslash and an n stay told apart from a line feed
                 {"\x01\x1f", "\\x01\\x1f"},
                 {"", ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(board::escapeControls(c.text), c.escaped) << c.text;
    }
}

TEST(BoardCommand, StubsCanBeMadeToFail) {
    SandboxBoard b;
    ::mkdir(b.path("/var/sandbox").c_str(), 0755);
    writeFile(b.path("/var/sandbox/ntpd.exit"), "3\n");
    int status = board::run({"/usr/sbin/ntpd", "-p", "pool.ntp.org", "-qNn"});
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
}

TEST(BoardCommand, ConcurrentProcessesWriteWholeLines) {
    SandboxBoard b;
    b.clearBoardLog();
    std::vector<pid_t> children;
    for (int c = 0; c < 4; ++c) {
        pid_t pid = ::fork();
        if (pid == 0) {
            for (int i = 0; i < 50; ++i) {
                board::logLine("line from child " + std::to_string(c) + " number " +
                               std::to_string(i));
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        ::waitpid(pid, nullptr, 0);
    }
    const auto lines = b.boardLog();
    ASSERT_EQ(lines.size(), 200u);
    for (const auto& line : lines) {
        EXPECT_EQ(line.rfind("line from child ", 0), 0u) << line;
    }
}

TEST(BoardDevice, EmulatedFlashReportsItsSizeAndErasesTo0xFF) {
    SandboxBoard b;
    const std::string flash = b.path("/dev/mtd1");
    writeFile(flash, std::string(4 * 65536, '\0'));
    int fd = board::openDevice("/dev/mtd1", O_RDWR);
    ASSERT_GE(fd, 0);
    board::MtdInfo info;
    ASSERT_EQ(board::mtdGetInfo(fd, info), 0);
    EXPECT_EQ(info.size, 4u * 65536);
    EXPECT_EQ(info.eraseSize, 65536u);
    EXPECT_EQ(board::mtdUnlock(fd, 65536, 65536), 0);
    ASSERT_EQ(board::mtdErase(fd, 65536, 65536), 0);
    // Erasing past the end fails as the driver does.
    EXPECT_EQ(board::mtdErase(fd, 3 * 65536, 2 * 65536), -1);
    EXPECT_EQ(errno, EINVAL);
    ::close(fd);

    const std::string bytes = readFile(flash);
    ASSERT_EQ(bytes.size(), 4u * 65536);
    EXPECT_EQ(bytes.substr(0, 65536), std::string(65536, '\0'));
    EXPECT_EQ(bytes.substr(65536, 65536), std::string(65536, '\xFF'));
    EXPECT_EQ(bytes.substr(2 * 65536), std::string(2 * 65536, '\0'));
}

TEST(BoardDevice, VirtualBoardFlashStartsErased) {
    SandboxBoard b;
    const std::string bytes = readFile(b.path("/dev/mtd9"));
    ASSERT_EQ(bytes.size(), 512u * 1024);
    EXPECT_EQ(bytes.find_first_not_of('\xFF'), std::string::npos);
}

TEST(BoardDevice, EmulatedRtcStoresTheTimeRecord) {
    SandboxBoard b;
    int fd = board::openDevice("/dev/hi_rtc", O_RDWR);
    ASSERT_GE(fd, 0);
    board::RtcTime t{2025, 1, 1, 4, 0, 0, 0};
    ASSERT_EQ(board::rtcSetTime(fd, t), 0);
    ::close(fd);
    const std::string bytes = readFile(b.path("/dev/hi_rtc"));
    ASSERT_EQ(bytes.size(), 28u);
    board::RtcTime back{};
    std::memcpy(&back, bytes.data(), sizeof back);
    EXPECT_EQ(back.year, 2025);
    EXPECT_EQ(back.month, 1);
    EXPECT_EQ(back.date, 1);
    EXPECT_EQ(back.hour, 4);
}

TEST(BoardSystem, SandboxLogsTheClockInsteadOfSettingIt) {
    SandboxBoard b;
    b.clearBoardLog();
    const time_t before = ::time(nullptr);
    ASSERT_EQ(board::setSystemClock(86400), 0);
    EXPECT_GE(::time(nullptr), before);  // the host clock was not touched
    EXPECT_EQ(b.boardLog(), (std::vector<std::string>{"stime 86400"}));
}

TEST(BoardSystem, SandboxLogsNetworkChangesAndRefusesOtherRequests) {
    SandboxBoard b;
    b.clearBoardLog();
    ScopedEnv noApply("BOARD_NET", nullptr);
    int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(sock, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "eth0", IFNAMSIZ - 1);
    auto* sin = reinterpret_cast<sockaddr_in*>(&ifr.ifr_addr);
    sin->sin_family = AF_INET;
    inet_pton(AF_INET, "10.9.8.7", &sin->sin_addr);
    EXPECT_EQ(board::netChange(sock, SIOCSIFADDR, &ifr), 0);

    rtentry rt{};
    auto* gw = reinterpret_cast<sockaddr_in*>(&rt.rt_gateway);
    gw->sin_family = AF_INET;
    inet_pton(AF_INET, "10.9.8.1", &gw->sin_addr);
    EXPECT_EQ(board::netChange(sock, SIOCADDRT, &rt), 0);
    EXPECT_EQ(board::netChange(sock, SIOCGIFADDR, &ifr), -1);
    ::close(sock);
    EXPECT_EQ(b.boardLog(), (std::vector<std::string>{"ioctl SIOCSIFADDR eth0 10.9.8.7",
                                                      "ioctl SIOCADDRT default gw 10.9.8.1"}));
}

}  // namespace
