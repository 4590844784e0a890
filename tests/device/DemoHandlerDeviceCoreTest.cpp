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

constexpr size_t kBlock = 65536;

// No byte equals its neighbour, and the first ones are not the erased value 0xFF.
std::string image(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + 1) % 251);
    }
    return bytes;
}

class DeviceCoreTest : public DeviceTest {
protected:
    // Stores a file where the web server puts uploads and reports it as the server does:
    // the upload directory, a slash, the file name.
    void upload(DemoHandler& handler, const std::string& name, const std::string& content) {
        writeFile(board.path("/var/" + name), content);
        handler.handleUpload("file", board.path("/var/") + "/" + name);
    }
};

TEST_F(DeviceCoreTest, FirmwareUploadTellsTheMediaProcessWritesFlashAndReboots) {
    auto handler = makeHandler();
    const std::string content = image(3 * kBlock + 10);
    testing::internal::CaptureStdout();
    upload(*handler, "rootfs_sqfs.img", content);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(handler->uploadedFilePath(), board.path("/var/") + "/rootfs_sqfs.img");
    ASSERT_TRUE(standIn->waitForCode(100));
    EXPECT_EQ(standIn->codes(), std::vector<int>{100});

    const std::string flash = readFile(board.path("/dev/mtd2"));
    ASSERT_GE(flash.size(), 4 * kBlock);
    EXPECT_EQ(flash.compare(0, content.size(), content), 0);
    // The last block is written whole; beyond the image it reads as erased flash.
    EXPECT_EQ(flash.substr(content.size(), 4 * kBlock - content.size()),
              std::string(4 * kBlock - content.size(), '\xff'));
    EXPECT_TRUE(logHas("/sbin/reboot"));
    EXPECT_NE(out.find("update mtd:/dev/mtd2\n"), std::string::npos) << out;
    EXPECT_NE(out.find("write image OK"), std::string::npos) << out;
}

TEST_F(DeviceCoreTest, SmallFirmwareIsIgnoredWithoutTellingTheMediaProcess) {
    auto handler = makeHandler();
    const std::string before = readFile(board.path("/dev/mtd2"));
    testing::internal::CaptureStdout();
    upload(*handler, "rootfs_sqfs.img", image(40000));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(readFile(board.path("/dev/mtd2")), before);
    EXPECT_FALSE(standIn->waitForCount(1, std::chrono::milliseconds(200)));
    EXPECT_FALSE(logHas("/sbin/reboot"));
}

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
    ASSERT_EQ(handler->setAudio(enc::AudioSettings(), response), 0);
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
    EXPECT_TRUE(logHas("/etc/upgrade_remote.sh 192.168.1.20 upgrade_pack.tar.gz"));
    EXPECT_TRUE(logHas("/etc/upgrade_remote.sh 192.168.1.20 version.txt"));

    EXPECT_EQ(handler->getUpdateStatus(response), 0);
    EXPECT_EQ(response, "finished");
    std::string untouched = "{}";
    EXPECT_EQ(handler->handleUpdate("/var/x.bin", untouched), 0);
    EXPECT_EQ(untouched, "{}");
}

TEST_F(DeviceCoreTest, SetTimeWritesTheEmulatedRtcAndOnlyLogsTheSystemClock) {
    writeFile(board.path("/etc/TZ"), "CST-8\n");
    auto handler = makeHandler();
    enc::TimeSettings request;
    request.year = 2023;
    request.month = 11;  // December, counted from 0
    request.date = 31;
    request.hour = 20;
    testing::internal::CaptureStdout();
    EXPECT_EQ(handler->setTime(request, response), 0);
    testing::internal::GetCapturedStdout();
    const std::string bytes = readFile(board.path("/dev/hi_rtc"));
    board::RtcTime rtc{};
    ASSERT_GE(bytes.size(), sizeof rtc);
    std::memcpy(&rtc, bytes.data(), sizeof rtc);
    EXPECT_EQ(rtc.year, 2024);
    EXPECT_EQ(rtc.month, 1);
    EXPECT_EQ(rtc.date, 1);
    EXPECT_EQ(rtc.hour, 4);
    bool clockLogged = false;
    for (const auto& line : board.boardLog()) {
        clockLogged = clockLogged || line.rfind("stime ", 0) == 0;
    }
    EXPECT_TRUE(clockLogged);
    EXPECT_TRUE(logHas("/sbin/hwclock -w"));

    request.month = 12;  // no thirteenth month: nothing is changed
    EXPECT_EQ(handler->setTime(request, response), -1);
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
