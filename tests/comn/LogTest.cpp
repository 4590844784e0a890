// The logger: time prefixes, the settings file, rolling files and the file sink's
// recovery. The logger is process-wide, so every test starts from no sinks and its own
// working directory. (Silence without a settings file is checked through sluice_init.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <mutex>
#include <string>
#include <vector>

#include "CLog.h"
#include "FileLogWriter.h"
#include "LogPrefix.h"
#include "TestSupport.h"

using testsupport::readFile;
using testsupport::writeFile;

namespace {

std::mutex g_mutex;
std::vector<std::string> g_captured;

void capture(int, const char* text, size_t length, int) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_captured.emplace_back(text, length);
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        char cwd[4096];
        ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
        m_oldCwd = cwd;
        ASSERT_EQ(::chdir(m_dir.path().c_str()), 0);
        CLog::clearWriters();
        CLog::setFileParam("app.log", 10, 2);
        std::lock_guard<std::mutex> lock(g_mutex);
        g_captured.clear();
    }
    void TearDown() override {
        CLog::clearWriters();
        ASSERT_EQ(::chdir(m_oldCwd.c_str()), 0);
    }
    std::string path(const std::string& name) const { return m_dir.file(name); }
    static void logEveryLevel() {
        CLog::debug("d\n");
        CLog::info("i\n");
        CLog::warning("w\n");
        CLog::error("e\n");
        CLog::fatal("f\n");
    }

    testsupport::TempDir m_dir;
    std::string m_oldCwd;
};

// The text with every run of digits replaced by one '#' (the prefixes' own digits are
// checked in PrefixesPrintUnpaddedMilliseconds).
std::string digitsHidden(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            out += c;
        } else if (out.empty() || out.back() != '#') {
            out += '#';
        }
    }
    return out;
}

}  // namespace

TEST_F(LogTest, PrefixesPrintUnpaddedMilliseconds) {
    testsupport::ScopedEnv tz("TZ", "UTC");
    ::tzset();
    timeval t{1735704000 + 3661, 7000};  // 2025-01-01 05:01:01.007 UTC
    EXPECT_EQ(comn::detail::dateTimePrefix(t), "2025-01-01 05:01:01.7");
    t.tv_usec = 123999;
    EXPECT_EQ(comn::detail::timePrefix(t), "05:01:01.123");
}

// Settings files that install a file sink, and what every level then leaves in the file.
TEST_F(LogTest, SettingsFileFileSink) {
    const struct {
        const char* ini;
        const char* file;
        const char* expected;  // nullptr: no file at all
    } cases[] = {
        {"[File]\nEnabled=true\nLevel=warning\nFormat=\nFileName=out.log\n", "out.log",
         "w\ne\nf\n"},
        {"[File]\nEnabled=1\nLevel=Warning\nFileName=out.log\n", "out.log", "d\ni\nw\ne\nf\n"},
        {"[File]\nEnabled=true\nLevel=error\nFileName=first second.log\n", "first", "e\nf\n"},
        {"[Console]\nEnabled=true\nLevel=fatal\n[File]\nFileName=out.log\n", "out.log", nullptr},
    };
    for (const auto& c : cases) {
        CLog::clearWriters();
        ::unlink(path(c.file).c_str());
        writeFile(path("SluiceLog.ini"), c.ini);
        ASSERT_EQ(CLog::config("SluiceLog.ini"), 0) << c.ini;
        testing::internal::CaptureStdout();
        logEveryLevel();
        testing::internal::GetCapturedStdout();
        if (c.expected == nullptr) {
            EXPECT_FALSE(testsupport::fileExists(path(c.file))) << c.ini;
        } else {
            EXPECT_EQ(readFile(path(c.file)), c.expected) << c.ini;
        }
    }
}

TEST_F(LogTest, SettingsFileConsoleSink) {
    const struct {
        const char* ini;
        const char* pattern;
    } cases[] = {
        {"[Console]\r\nEnabled=true\r\nLevel=info\r\nFormat=time\r\n",
         "#:#:#.# warning | shown #\n"},
        {"[Console]\nEnabled=true\nFormat=datetime,time\n",
         "#-#-# #:#:#.# debug | detail\n#-#-# #:#:#.# warning | shown #\n"},
    };
    for (const auto& c : cases) {
        CLog::clearWriters();
        writeFile(path("SluiceLog.ini"), c.ini);
        ASSERT_EQ(CLog::config("SluiceLog.ini"), 0);
        testing::internal::CaptureStdout();
        CLog::debug("detail\n");
        CLog::warning("shown %d\n", 7);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(digitsHidden(out), c.pattern) << out;
    }
}

TEST_F(LogTest, MissingSettingsFileKeepsTheSinksAndBadSinkTypesAreRefused) {
    CLog::setFunctionWriter(&capture, 0, 0);
    EXPECT_EQ(CLog::config("SluiceLog.ini"), 2);
    EXPECT_EQ(CLog::config(nullptr), 0);
    for (int type : {-1, 4, 5}) {
        EXPECT_EQ(CLog::setWriter(type, 0, 0), 22) << type;
    }
    const std::string body(3000, 'x');  // longer than any fixed line buffer
    CLog::warning("%s|%d\n", body.c_str(), 42);
    std::lock_guard<std::mutex> lock(g_mutex);
    EXPECT_EQ(g_captured, std::vector<std::string>{body + "|42\n"});
}

TEST_F(LogTest, FileSinkCreatesDirectoriesAndMovesWithTheFileName) {
    EXPECT_EQ(CLog::setFileParam(std::string(256, 'a').c_str(), 1, 1), 22);
    EXPECT_EQ(CLog::setFileParam(nullptr, 0, 0), 0);
    EXPECT_EQ(CLog::getFileName(), "app.log");
    ASSERT_EQ(CLog::setWriter(CLog::kFile, 0, 0), 0);
    CLog::info("a\n");
    CLog::setFileParam("one/two/b.log", 1, 2);
    CLog::info("b\n");
    EXPECT_EQ(readFile(path("app.log")), "a\n");
    EXPECT_EQ(readFile(path("one/two/b.log")), "b\n");
    for (const char* dir : {"one", "one/two"}) {
        struct stat st {};
        ASSERT_EQ(::stat(path(dir).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u) << dir;
    }
}

TEST_F(LogTest, RollingKeepsRollCountOlderFilesAndCountsAnExistingFile) {
    const std::string log = path("roll.log");
    writeFile(log, "12345");
    writeFile(log + ".1", "older\n");
    writeFile(log + ".2", "oldest\n");
    comn::detail::FileLogWriter writer(log, 20, 2);
    EXPECT_EQ(writer.currentSize(), 5u);
    writer.write(1, "0123456789\n", 11, 0);  // 16 bytes: below the limit
    EXPECT_EQ(readFile(log + ".1"), "older\n");
    writer.write(1, "abcd\n", 5, 0);  // 21 bytes: reaches the limit, rolls over
    EXPECT_FALSE(testsupport::fileExists(log));
    EXPECT_EQ(readFile(log + ".1"), "123450123456789\nabcd\n");
    EXPECT_EQ(readFile(log + ".2"), "older\n");
    EXPECT_FALSE(testsupport::fileExists(log + ".3"));
    writer.write(1, "new\n", 4, 0);
    EXPECT_EQ(readFile(log), "new\n");
    EXPECT_EQ(writer.currentSize(), 4u);
}

TEST_F(LogTest, UnwritableFileDropsMessagesAndRetries) {
    const std::string blocked = path("blocked");
    writeFile(blocked, "a file where a directory should be");
    comn::detail::FileLogWriter writer(blocked + "/x.log", 100, 2);
    writer.write(1, "lost\n", 5, 0);  // must not crash
    ASSERT_EQ(::unlink(blocked.c_str()), 0);
    ASSERT_EQ(::mkdir(blocked.c_str(), 0700), 0);
    writer.write(1, "kept\n", 5, 0);
    EXPECT_EQ(readFile(blocked + "/x.log"), "kept\n");
}
