#include <gtest/gtest.h>

#include "FlashWriter.h"
#include "TestSupport.h"

namespace {

using testsupport::readFile;
using testsupport::SandboxBoard;
using testsupport::writeFile;

constexpr size_t kBlock = 65536;

std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>((i * 13 + 5) % 251);
    }
    return bytes;
}

class FlashFixture : public ::testing::Test {
protected:
    // A partition of `blocks` erase blocks filled with 0x5A, a byte the writer never
    // produces, so every erased or written byte shows.
    void makePartition(size_t blocks) {
        writeFile(m_board.path("/dev/mtd9"), std::string(blocks * kBlock, '\x5A'));
    }
    std::string partition() const { return readFile(m_board.path("/dev/mtd9")); }

    SandboxBoard m_board;
};

// The padding and the untouched rest are checked through the upload of a root image.
TEST_F(FlashFixture, ProgressLinesOfAnImageOfThreeBlocksAndTenBytes) {
    makePartition(6);
    const auto img = pattern(3 * kBlock + 10);
    testing::internal::CaptureStdout();
    EXPECT_EQ(enc::writeFlash(img.data(), img.size(), "/dev/mtd9"), 0);
    const std::string output = testing::internal::GetCapturedStdout();

    EXPECT_EQ(output,
              "info.size = 0x60000, info.erasesize=0x10000\n"
              "==>erasesize:65536,  start erase sectors --->>>\n####"
              "\n==>write flash,please waiting... "
              "write flash offset:0, size:65536\n\n$\n"
              "write flash offset:65536, size:65536\n"
              "write flash offset:131072, size:65536\n"
              "write flash offset:196608, size:65536\n"
              "\n write ramdisk to flash success !\n");
}

TEST_F(FlashFixture, WholeBlocksAreWrittenWithoutAnExtraBlock) {
    makePartition(4);
    const auto img = pattern(2 * kBlock);
    testing::internal::CaptureStdout();
    EXPECT_EQ(enc::writeFlash(img.data(), img.size(), "/dev/mtd9"), 0);
    testing::internal::GetCapturedStdout();
    const std::string flash = partition();
    EXPECT_EQ(flash.substr(0, img.size()), std::string(img.begin(), img.end()));
    EXPECT_EQ(flash.substr(2 * kBlock), std::string(2 * kBlock, '\x5A'));
}

// An image larger than its partition is refused before erasing: see the upload tests.
TEST_F(FlashFixture, MissingPartitionOrEmptyImageFails) {
    const auto img = pattern(100);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(enc::writeFlash(img.data(), img.size(), "/dev/mtd7"), -1);
    EXPECT_EQ(enc::writeFlash(img.data(), 0, "/dev/mtd9"), -1);
    testing::internal::GetCapturedStdout();
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("/dev/mtd7: No such file or directory"), std::string::npos);
}

}  // namespace
