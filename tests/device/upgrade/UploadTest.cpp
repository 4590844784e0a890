#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "EncoderConfigFile.h"
#include "FlashWriter.h"
#include "IniFile.h"
#include "TestSupport.h"
#include "Uploads.h"

namespace {

using testsupport::readFile;
using testsupport::SandboxBoard;
using testsupport::writeFile;

constexpr size_t kBlock = 65536;

using testsupport::flashImage;

class UploadFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_settingsPath = m_board.path("/mnt/config/encoder.ini");
        m_board.clearBoardLog();
    }

    // Stores an upload in "/var/" as the web server does and hands it over.
    void upload(const std::string& name, const std::string& content) {
        writeFile(m_board.path("/var/" + name), content);
        handOver(name);
    }
    void handOver(const std::string& name) {
        enc::handleUpload(name, "/var/" + name, m_settings, m_settingsPath,
                          [this](int code) { onCode(code); });
    }
    void onCode(int code) {
        m_codes.push_back(code);
        if (m_onCode) {
            m_onCode();
        }
    }
    std::string storedSetting(const std::string& section, const std::string& key) {
        comn::IniFile ini;
        if (!ini.load(m_settingsPath)) {
            return "<no settings file>";
        }
        return ini.getValue(section, key, "<missing>");
    }
    // A partition of the given size filled with a byte the writer never produces, so every
    // erased or written byte shows.
    void makePartition(const std::string& device, size_t size) {
        writeFile(m_board.path(device), std::string(size, '\x5A'));
    }

    SandboxBoard m_board;
    enc::EncoderConfigFile m_settings;
    std::string m_settingsPath;
    std::vector<int> m_codes;
    std::function<void()> m_onCode;
};

TEST_F(UploadFixture, PicturesUpToTheirLimitAreTakenOneByteMoreIsRefused) {
    struct Case {
        const char* name;
        size_t size;
        bool taken;
        const char* refusal;
    };
    const Case cases[] = {
        {"main.bmp", 204800, true, nullptr},
        {"main.bmp", 204801, false, "too large file > 204800 B\n"},
        {"main.jpg", 102400, true, nullptr},
        {"main.jpg", 102401, false, "too large file > 102400 B\n"},
        {"logo.jpg", 102400, false, nullptr},  // not a known picture
        {"logo.jpg", 102401, false, "too large file > 102400 B\n"},
    };
    for (const auto& c : cases) {
        m_board.clearBoardLog();
        testing::internal::CaptureStdout();
        upload(c.name, std::string(c.size, 'p'));
        const std::string output = testing::internal::GetCapturedStdout();
        EXPECT_EQ(!m_board.boardLog().empty(), c.taken) << c.name << " " << c.size;
        if (c.refusal != nullptr) {
            EXPECT_NE(output.find(c.refusal), std::string::npos) << output;
        }
    }
}

// Every known picture with the settings change and the commands the device runs for it.
TEST_F(UploadFixture, PictureTableChangesSettingsAndCopies) {
    struct Expected {
        std::string name;
        std::string section;  // "" when no setting changes
        std::string key;
        std::string value;
        std::vector<std::string> log;
    };
    const auto logo = [](const std::string& n) {
        return std::vector<std::string>{"cp /var/" + n + " /customer/logo//" + n, "sync"};
    };
    const auto param = [](const std::string& n) {
        return std::vector<std::string>{"cp /var/" + n + " /mnt/param/", "sync"};
    };
    const auto overlay = [](const std::string& n) {
        return std::vector<std::string>{"cp /var/" + n + " /mnt/config/",         "sync",
                                        "cp /var/" + n + " /mnt/config/main.jpg", "sync",
                                        "cp /var/" + n + " /mnt/config/sub.jpg",  "sync"};
    };
    const std::vector<Expected> expected = {
        {"main.bmp", "master_osd_0", "logo_name", "main.bmp", logo("main.bmp")},
        {"main.jpg", "master_osd_0", "logo_name", "main.jpg", logo("main.jpg")},
        {"sub.bmp", "sub_osd_0", "logo_name", "sub.bmp", logo("sub.bmp")},
        {"sub.jpg", "sub_osd_0", "logo_name", "sub.jpg", logo("sub.jpg")},
        {"add_1.jpg", "storage", "add_pict_1", "/mnt/param/add_1.jpg", param("add_1.jpg")},
        {"add_2.jpg", "storage", "add_pict_2", "/mnt/param/add_2.jpg", param("add_2.jpg")},
        {"osd_1.jpg", "", "", "", overlay("osd_1.jpg")},
        {"osd_2.jpg", "", "", "", overlay("osd_2.jpg")},
        {"osd_3.jpg", "", "", "", overlay("osd_3.jpg")},
        {"osd_4.jpg", "", "", "", overlay("osd_4.jpg")},
        {"osd_5.jpg", "", "", "", overlay("osd_5.jpg")},
    };
    ASSERT_EQ(enc::pictureTable().size(), expected.size());
    for (const auto& e : expected) {
        ::unlink(m_settingsPath.c_str());
        m_board.clearBoardLog();
        testing::internal::CaptureStdout();
        upload(e.name, "picture " + e.name);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(m_board.boardLog(), e.log) << e.name;
        if (e.section.empty()) {
            EXPECT_FALSE(testsupport::fileExists(m_settingsPath)) << e.name;
        } else {
            EXPECT_EQ(storedSetting(e.section, e.key), e.value) << e.name;
        }
    }
    EXPECT_EQ(readFile(m_board.path("/customer/logo/main.bmp")), "picture main.bmp");
    EXPECT_EQ(readFile(m_board.path("/mnt/config/sub.jpg")), "picture osd_5.jpg");
    EXPECT_EQ(readFile(m_board.path("/mnt/param/add_2.jpg")), "picture add_2.jpg");
    EXPECT_TRUE(m_codes.empty());
}

// The names come from the client: they are printed escaped, never as lines of their own.
TEST_F(UploadFixture, NamesArePrintedEscaped) {
    testing::internal::CaptureStdout();
    enc::handleUpload("f\nhandleUpload, 1, name:forged", "/var/a\x1b[2Jb", m_settings,
                      m_settingsPath, [this](int code) { onCode(code); });
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("name:f\\nhandleUpload, 1, name:forged, filepath:/var/a\\x1b[2Jb\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
}

TEST_F(UploadFixture, MissingPictureIsReported) {
    testing::internal::CaptureStdout();
    handOver("main.bmp");
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("can not open logo file :/var/main.bmp\n"), std::string::npos);
    EXPECT_TRUE(m_board.boardLog().empty());
}

// Firmware up to the limit, other extensions and paths without one: nothing happens.
TEST_F(UploadFixture, SmallFirmwareAndOtherFilesAreIgnoredWithoutTellingTheMediaProcess) {
    const std::string flashBefore = readFile(m_board.path("/dev/mtd2"));
    for (const char* name : {"rootfs_sqfs.img", "firmware.gz", "customer.sqfs"}) {
        upload(name, flashImage(40000));
    }
    upload("rootfs_sqfs.img", flashImage(51200));  // the limit itself is still too small
    upload("notes.txt", flashImage(60000));
    upload("kernel", flashImage(60000));
    EXPECT_TRUE(m_codes.empty());
    EXPECT_TRUE(m_board.boardLog().empty());
    EXPECT_EQ(readFile(m_board.path("/dev/mtd2")), flashBefore);
}

TEST_F(UploadFixture, PackageRunsTheBoardsUpgradeScriptAndWritesNoFlash) {
    const std::string flashBefore = readFile(m_board.path("/dev/mtd2"));
    upload("firmware.gz", flashImage(60000));
    EXPECT_EQ(m_codes, (std::vector<int>{100}));
    EXPECT_EQ(m_board.boardLog(), (std::vector<std::string>{"/etc/upgrade.sh"}));
    EXPECT_EQ(readFile(m_board.path("/dev/mtd2")), flashBefore);
}

TEST_F(UploadFixture, RootImageIsWrittenAfterCode100AndTheDeviceReboots) {
    makePartition("/dev/mtd2", 8 * kBlock);
    const std::string img = flashImage(3 * kBlock + 10);
    bool flashUntouchedAtCode = false;
    m_onCode = [&] {
        flashUntouchedAtCode =
            readFile(m_board.path("/dev/mtd2")) == std::string(8 * kBlock, '\x5A');
    };
    testing::internal::CaptureStdout();
    upload("rootfs_sqfs.img", img);
    const std::string output = testing::internal::GetCapturedStdout();

    EXPECT_EQ(m_codes, (std::vector<int>{100}));
    EXPECT_TRUE(flashUntouchedAtCode);
    const std::string flash = readFile(m_board.path("/dev/mtd2"));
    ASSERT_EQ(flash.size(), 8 * kBlock);
    EXPECT_EQ(flash.substr(0, img.size()), img);
    EXPECT_EQ(flash.substr(img.size(), 4 * kBlock - img.size()),
              std::string(4 * kBlock - img.size(), '\xFF'));
    EXPECT_EQ(flash.substr(4 * kBlock), std::string(4 * kBlock, '\x5A'));
    EXPECT_EQ(m_board.boardLog(), (std::vector<std::string>{"/sbin/reboot"}));
    EXPECT_NE(output.find("update mtd:/dev/mtd2\n"), std::string::npos);
    EXPECT_NE(output.find("write image OK\n"), std::string::npos);
}

TEST_F(UploadFixture, CustomerImageGoesToMtd3) {
    makePartition("/dev/mtd3", 4 * kBlock);
    const std::string img = flashImage(kBlock + 1);
    upload("customer.sqfs", img);
    EXPECT_EQ(readFile(m_board.path("/dev/mtd3")).substr(0, img.size()), img);
    EXPECT_EQ(m_board.boardLog(), (std::vector<std::string>{"/sbin/reboot"}));
}

TEST_F(UploadFixture, KernelIsWrittenToMtd1OnlyWhenTheKernelFileExistsAndItIsLargeEnough) {
    makePartition("/dev/mtd1", 4 * kBlock);
    const std::string img = flashImage(2 * kBlock);
    testing::internal::CaptureStdout();
    upload("kernel.bin", img);  // no "/var/kernel": nothing is written
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("no update file:/var/kernel.bin\n"), std::string::npos);
    writeFile(m_board.path("/var/kernel"), "");
    upload("kernel.bin", flashImage(50000));  // too small, like any firmware
    EXPECT_EQ(readFile(m_board.path("/dev/mtd1")), std::string(4 * kBlock, '\x5A'));
    EXPECT_TRUE(m_board.boardLog().empty());

    upload("kernel.bin", img);
    EXPECT_EQ(readFile(m_board.path("/dev/mtd1")).substr(0, img.size()), img);
    EXPECT_EQ(m_board.boardLog(), (std::vector<std::string>{"/sbin/reboot"}));
    EXPECT_EQ(m_codes, (std::vector<int>{100, 100}));
}

TEST_F(UploadFixture, ImageTooLargeForItsPartitionIsRefusedBeforeErasing) {
    makePartition("/dev/mtd2", 2 * kBlock);
    testing::internal::CaptureStdout();
    upload("rootfs_sqfs.img", flashImage(2 * kBlock + 1));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(readFile(m_board.path("/dev/mtd2")), std::string(2 * kBlock, '\x5A'));
    EXPECT_TRUE(m_board.boardLog().empty());  // no reboot
}

// ---- the flash writer itself ----

// The padding and the untouched rest are checked through the upload of a root image above.
TEST_F(UploadFixture, FlashWriterProgressLinesOfAnImageOfThreeBlocksAndTenBytes) {
    makePartition("/dev/mtd9", 6 * kBlock);
    const std::string img = flashImage(3 * kBlock + 10);
    testing::internal::CaptureStdout();
    EXPECT_EQ(
        enc::writeFlash(reinterpret_cast<const uint8_t*>(img.data()), img.size(), "/dev/mtd9"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "info.size = 0x60000, info.erasesize=0x10000\n"
              "==>erasesize:65536,  start erase sectors --->>>\n####"
              "\n==>write flash,please waiting... "
              "write flash offset:0, size:65536\n\n$\n"
              "write flash offset:65536, size:65536\n"
              "write flash offset:131072, size:65536\n"
              "write flash offset:196608, size:65536\n"
              "\n write ramdisk to flash success !\n");
}

TEST_F(UploadFixture, FlashWriterWritesWholeBlocksWithoutAnExtraBlock) {
    makePartition("/dev/mtd9", 4 * kBlock);
    const std::string img = flashImage(2 * kBlock);
    const auto* data = reinterpret_cast<const uint8_t*>(img.data());
    testing::internal::CaptureStdout();
    EXPECT_EQ(enc::writeFlash(data, img.size(), "/dev/mtd9"), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(readFile(m_board.path("/dev/mtd9")), img + std::string(2 * kBlock, '\x5A'));

    // A missing partition or an empty image fails.
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(enc::writeFlash(data, img.size(), "/dev/mtd7"), -1);
    EXPECT_EQ(enc::writeFlash(data, 0, "/dev/mtd9"), -1);
    testing::internal::GetCapturedStdout();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("/dev/mtd7: No such file or directory"),
              std::string::npos);
}

}  // namespace
