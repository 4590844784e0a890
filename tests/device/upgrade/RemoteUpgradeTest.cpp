#include <gtest/gtest.h>
#include <sys/stat.h>

#include "RemoteUpgrade.h"
#include "TestSupport.h"

namespace {

using testsupport::readFile;
using testsupport::SandboxBoard;
using testsupport::writeFile;

class RemoteUpgradeFixture : public ::testing::Test {
protected:
    void SetUp() override { m_board.clearBoardLog(); }
    // The sandbox's fetch script copies files from srv/upgrade.
    void offer(const std::string& name, const std::string& content) {
        writeFile(m_board.path("/srv/upgrade/" + name), content);
    }
    SandboxBoard m_board;
};

TEST_F(RemoteUpgradeFixture, UpgradeSucceedsOnlyWhenThePackageArrives) {
    enc::UpgradeServerSettings request;
    request.serverIP = "192.168.1.20";
    writeFile(m_board.path("/var/upgrade_pack.tar.gz"), "old package");  // from an earlier run
    testing::internal::CaptureStdout();
    EXPECT_EQ(enc::httpUpgrade(request), -1);
    testing::internal::GetCapturedStdout();

    offer("upgrade_pack.tar.gz", "package");
    m_board.clearBoardLog();
    testing::internal::CaptureStdout();
    EXPECT_EQ(enc::httpUpgrade(request), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "http upgrade now\n"
              "http cmd:/etc/upgrade_remote.sh 192.168.1.20 upgrade_pack.tar.gz\n");
    EXPECT_EQ(
        m_board.boardLog(),
        (std::vector<std::string>{"/etc/upgrade_remote.sh 192.168.1.20 upgrade_pack.tar.gz"}));
    EXPECT_EQ(readFile(m_board.path("/var/upgrade_pack.tar.gz")), "package");
}

TEST_F(RemoteUpgradeFixture, ServerAddressReachesTheScriptAsOneArgument) {
    const std::string record = m_board.path("/tmp/remote.args");
    writeFile(
        m_board.path("/etc/upgrade_remote.sh"),
        "#!/bin/sh\n{ echo \"$#\"; for a in \"$@\"; do echo \"$a\"; done; } > " + record + "\n");
    ::chmod(m_board.path("/etc/upgrade_remote.sh").c_str(), 0755);
    enc::UpgradeServerSettings request;
    request.serverIP = "1.2.3.4; /sbin/reboot";
    testing::internal::CaptureStdout();
    enc::httpDetect(request);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(testsupport::splitLines(readFile(record)),
              (std::vector<std::string>{"2", "1.2.3.4; /sbin/reboot", "version.txt"}));
}

TEST_F(RemoteUpgradeFixture, OverlongServerAddressIsRefused) {
    enc::UpgradeServerSettings request;
    request.serverIP = std::string(100, 'a');
    testing::internal::CaptureStdout();
    EXPECT_EQ(enc::httpUpgrade(request), -1);
    EXPECT_EQ(enc::httpDetect(request), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(request.version, "");
    EXPECT_TRUE(m_board.boardLog().empty());
}

TEST_F(RemoteUpgradeFixture, DetectReportsTheFirstLineOfTheVersionFileOrNothing) {
    writeFile(m_board.path("/var/version.txt"), "stale\n");
    enc::UpgradeServerSettings request;
    request.serverIP = "192.168.1.20";
    request.version = "previous";
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(enc::httpDetect(request), 0);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(request.version, "");

    offer("version.txt", "2.4.1-build7\nchanges: many\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(enc::httpDetect(request), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "http detect version\n"
              "http cmd:/etc/upgrade_remote.sh 192.168.1.20 version.txt\n");
    EXPECT_EQ(request.version, "2.4.1-build7\n");
}

}  // namespace
