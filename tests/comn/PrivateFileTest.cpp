// Files that hold secrets (password file, device key) are written whole and owner-only.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "PrivateFile.h"
#include "TestSupport.h"

namespace {

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

TEST(PrivateFile, ReplacesAnOpenFileWithAnOwnerOnlyOne) {
    TempDir dir;
    const std::string path = dir.file("secret");
    writeFile(path, "old");
    ::chmod(path.c_str(), 0644);
    std::string error;
    ASSERT_TRUE(comn::writePrivateFile(path, "new text", &error)) << error;
    EXPECT_EQ(readFile(path), "new text");
    EXPECT_EQ(modeOf(path), 0600u);
}

TEST(PrivateFile, FailureSaysWhyAndLeavesNoTemporaryFile) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(comn::writePrivateFile(dir.file("no-such-dir/secret"), "x", &error));
    EXPECT_NE(error.find("no-such-dir"), std::string::npos) << error;
    EXPECT_FALSE(comn::writePrivateFile(dir.file("no-such-dir/secret"), "x"));  // no error text
}

}  // namespace
