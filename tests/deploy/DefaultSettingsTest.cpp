// The factory settings file the board image ships (/customer/encoder.ini) is exactly what
// the settings model saves from its defaults, so a board starts from the same values as a
// board without any settings file.
#include <gtest/gtest.h>

#include "EncoderConfigFile.h"
#include "TestSupport.h"

namespace {

const std::string kShipped = "/board/rootfs/customer/encoder.ini";

}  // namespace

TEST(FactorySettings, AreTheModelsDefaults) {
    testsupport::TempDir dir;
    enc::EncoderConfigFile defaults;
    ASSERT_TRUE(defaults.save(dir.file("encoder.ini")));
    EXPECT_EQ(testsupport::readFile(testsupport::sourceRoot() + kShipped),
              testsupport::readFile(dir.file("encoder.ini")))
        << "regenerate with: build/bin/deploy_default_settings board/rootfs/customer/encoder.ini";
}

TEST(FactorySettings, LoadAndSaveUnchanged) {
    testsupport::TempDir dir;
    enc::EncoderConfigFile shipped;
    ASSERT_TRUE(shipped.load(testsupport::sourceRoot() + kShipped));
    ASSERT_TRUE(shipped.save(dir.file("again.ini")));
    EXPECT_EQ(testsupport::readFile(testsupport::sourceRoot() + kShipped),
              testsupport::readFile(dir.file("again.ini")));
}
