// The device handler's operations that hand over to the device core: uploads, remote
// upgrades, the clock and the LTE modem's state, checked at the handler's interface.

#include <gtest/gtest.h>

#include <cstring>

#include "DeviceFixture.h"
#include "IniFile.h"
#include "LteState.h"
#include "board/Device.h"

namespace {

using testsupport::readFile;
using testsupport::writeFile;

class DeviceCoreTest : public DeviceTest {
protected:
    // Stores a file where the web server puts uploads and reports it as the server does:
    // the upload directory, a slash, the file name.
    void upload(DemoHandler& handler, const std::string& name, const std::string& content) {
        writeFile(board.path("/var/" + name), content);
        handler.handleUpload("file", board.path("/var/") + "/" + name);
    }
};

// Which image goes where, and the refusals, are checked on enc::handleUpload; a firmware
// upload through the handler end to end in tests/e2e.
TEST_F(DeviceCoreTest, PictureUploadIsCopiedAndItsNameSavedInTheHandlersSettings) {
    auto handler = makeHandler();
    testing::internal::CaptureStdout();
    upload(*handler, "main.bmp", std::string(150000, 'b'));
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(logHas("cp /var/main.bmp /customer/logo//main.bmp"));
    EXPECT_TRUE(logHas("sync"));
    comn::IniFile ini;
    ASSERT_TRUE(ini.load(settingsPath()));
    EXPECT_EQ(ini.getValue("master_osd_0", "logo_name", "<missing>"), "main.bmp");
    // The handler's own settings object holds the change too, so the next setter keeps it.
    std::string response;
    ASSERT_EQ(writeDoc<enc::AudioSettings>(*handler, 0, enc::AudioSettings(), response), 0);
    ASSERT_TRUE(ini.load(settingsPath()));
    EXPECT_EQ(ini.getValue("master_osd_0", "logo_name", "<missing>"), "main.bmp");
}

TEST_F(DeviceCoreTest, RemoteUpgradeAndVersionComeThroughTheBoardScript) {
    auto handler = makeHandler();
    enc::UpgradeServerSettings request;
    request.serverIP = "192.168.1.20";
    testing::internal::CaptureStdout();
    EXPECT_EQ(handler->httpUpgrade(request, response), -1);  // the server has no package
    writeFile(board.path("/srv/upgrade/upgrade_pack.tar.gz"), "package");
    writeFile(board.path("/srv/upgrade/version.txt"), "V2.4.1\nnotes\n");
    EXPECT_EQ(handler->httpUpgrade(request, response), 0);
    EXPECT_EQ(handler->httpDetect(request), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(request.version, "V2.4.1\n");
}

// The conversions are checked on enc::setManualTime; here, that the handler hands over.
TEST_F(DeviceCoreTest, SetTimeWritesTheEmulatedRtcAndOnlyLogsTheSystemClock) {
    auto handler = makeHandler();
    enc::TimeSettings request{2023, 11, 31, 0, 20, 0, 0};
    testing::internal::CaptureStdout();
    EXPECT_EQ(handler->setTime(request, response), 0);
    request.month = 12;  // no thirteenth month: nothing is changed
    EXPECT_EQ(handler->setTime(request, response), -1);
    testing::internal::GetCapturedStdout();
    board::RtcTime rtc{};
    const std::string bytes = readFile(board.path("/dev/hi_rtc"));
    ASSERT_GE(bytes.size(), sizeof rtc);
    std::memcpy(&rtc, bytes.data(), sizeof rtc);
    EXPECT_EQ(rtc.year, 2024);  // CST-8: 20:00 on New Year's Eve is 04:00 UTC the next day
    const auto log = board.boardLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].rfind("stime ", 0), 0u) << log[0];
    EXPECT_EQ(log[1], "/sbin/hwclock -w");
}

TEST_F(DeviceCoreTest, LteAnswerCarriesTheMonitorsValues) {
    enc::LteState lte;
    lte.setSimReady(1);
    lte.setOperatorName("中国联通");
    lte.setSignal(18);
    lte.setIccid("89860012345678901234");
    DemoHandler handler(link, media, std::string(), &lte);
    enc::LteStatus out;
    ASSERT_EQ(handler.getLte(out), 0);
    EXPECT_EQ(out.state, 1);
    EXPECT_EQ(out.server, "中国联通");
    EXPECT_EQ(out.signal, 18);
    EXPECT_EQ(out.iccid, "89860012345678901234");
    EXPECT_EQ(out.mask, "255.255.255.255");

    lte.setSignal(-1);  // a failed query
    lte.setOperatorName("");
    ASSERT_EQ(handler.getLte(out), 0);
    EXPECT_EQ(out.signal, -1);
    EXPECT_EQ(out.server, "");
    EXPECT_EQ(out.iccid, "89860012345678901234");
}

}  // namespace
