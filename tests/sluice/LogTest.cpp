// The logger: thresholds, level names, line formats, the settings file, rolling files and
// silence without a settings file. The logger is process-wide, so every test starts from no
// sinks and its own working directory.
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
#include "SyslogWriter.h"
#include "TestSupport.h"

using testsupport::readFile;
using testsupport::writeFile;

namespace {

struct Captured {
    int level;
    std::string text;
};
std::mutex g_mutex;
std::vector<Captured> g_captured;

void capture(int level, const char* text, size_t length, int) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_captured.push_back(Captured{level, std::string(text, length)});
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

// Matches text against a pattern where '#' is one digit, '*' one to three digits and any
// other character stands for itself.
bool looksLike(const std::string& text, const std::string& pattern) {
    size_t t = 0;
    for (char p : pattern) {
        if (p == '#' || p == '*') {
            const size_t most = p == '#' ? 1 : 3;
            size_t n = 0;
            while (n < most && t < text.size() &&
                   std::isdigit(static_cast<unsigned char>(text[t]))) {
                ++t;
                ++n;
            }
            if (n == 0) {
                return false;
            }
        } else if (t >= text.size() || text[t++] != p) {
            return false;
        }
    }
    return t == text.size();
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

}  // namespace

TEST_F(LogTest, LevelNamesClampOutOfRangeLevels) {
    EXPECT_STREQ(CLog::levelName(-3), "all");
    EXPECT_STREQ(CLog::levelName(0), "all");
    EXPECT_STREQ(CLog::levelName(1), "debug");
    EXPECT_STREQ(CLog::levelName(2), "info");
    EXPECT_STREQ(CLog::levelName(3), "warning");
    EXPECT_STREQ(CLog::levelName(4), "error");
    EXPECT_STREQ(CLog::levelName(5), "fatal");
    EXPECT_STREQ(CLog::levelName(9), "fatal");
}

TEST_F(LogTest, LevelNamesAreMatchedExactly) {
    EXPECT_EQ(CLog::levelFromName("warning"), 3);
    EXPECT_EQ(CLog::levelFromName("fatal"), 5);
    EXPECT_EQ(CLog::levelFromName("Warning"), 0);
    EXPECT_EQ(CLog::levelFromName("warning "), 0);
    EXPECT_EQ(CLog::levelFromName(""), 0);
}

TEST_F(LogTest, FormatItemsAreCommaSeparatedAndUntrimmed) {
    EXPECT_EQ(CLog::formatFromText("datetime,time"), 3);
    EXPECT_EQ(CLog::formatFromText("time"), 2);
    EXPECT_EQ(CLog::formatFromText("datetime"), 1);
    EXPECT_EQ(CLog::formatFromText("datetime, time"), 1);
    EXPECT_EQ(CLog::formatFromText("clock,,"), 0);
    EXPECT_EQ(CLog::formatFromText(""), 0);
}

TEST_F(LogTest, PrefixesPrintUnpaddedMilliseconds) {
    testsupport::ScopedEnv tz("TZ", "UTC");
    ::tzset();
    timeval t{1735704000 + 3661, 7000};  // 2025-01-01 05:01:01.007 UTC
    EXPECT_EQ(comn::detail::dateTimePrefix(t), "2025-01-01 05:01:01.7");
    EXPECT_EQ(comn::detail::timePrefix(t), "05:01:01.7");
    t.tv_usec = 123999;
    EXPECT_EQ(comn::detail::timePrefix(t), "05:01:01.123");
    t.tv_usec = 0;
    EXPECT_EQ(comn::detail::timePrefix(t), "05:01:01.0");
}

TEST_F(LogTest, LinesWithAPrefixCarryTheLevelNameAndABar) {
    EXPECT_EQ(comn::detail::formatLine(3, "bare\n", 5, 0), "bare\n");
    const std::string timed = comn::detail::formatLine(3, "msg\n", 4, CLog::kTime);
    EXPECT_TRUE(looksLike(timed, "##:##:##.* warning | msg\n")) << timed;
    const std::string both = comn::detail::formatLine(5, "msg\n", 4, 3);
    EXPECT_TRUE(looksLike(both, "####-##-## ##:##:##.* fatal | msg\n")) << both;
}

TEST_F(LogTest, SinkThresholdPassesOnlyItsLevelAndAbove) {
    CLog::setFunctionWriter(&capture, CLog::kWarning, 0);
    logEveryLevel();
    std::lock_guard<std::mutex> lock(g_mutex);
    ASSERT_EQ(g_captured.size(), 3u);
    EXPECT_EQ(g_captured[0].text, "w\n");
    EXPECT_EQ(g_captured[1].level, 4);
    EXPECT_EQ(g_captured[2].text, "f\n");
}

TEST_F(LogTest, ConfigInstallsAFileSinkWithThresholdAndBareLines) {
    writeFile(path("SluiceLog.ini"),
              "[File]\nEnabled=true\nLevel=warning\nFormat=\nFileName=out.log\n");
    ASSERT_EQ(CLog::config("SluiceLog.ini"), 0);
    logEveryLevel();
    EXPECT_EQ(readFile(path("out.log")), "w\ne\nf\n");
}

TEST_F(LogTest, ALevelWithACapitalIsNotRecognisedAndPassesEverything) {
    writeFile(path("SluiceLog.ini"), "[File]\nEnabled=1\nLevel=Warning\nFileName=out.log\n");
    ASSERT_EQ(CLog::config("SluiceLog.ini"), 0);
    logEveryLevel();
    EXPECT_EQ(readFile(path("out.log")), "d\ni\nw\ne\nf\n");
}

TEST_F(LogTest, ConsoleTimeFormatAndCrLfSettingsFile) {
    writeFile(path("SluiceLog.ini"), "[Console]\r\nEnabled=true\r\nLevel=info\r\nFormat=time\r\n");
    ASSERT_EQ(CLog::config("SluiceLog.ini"), 0);
    testing::internal::CaptureStdout();
    CLog::debug("hidden\n");
    CLog::warning("shown %d\n", 7);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(looksLike(out, "##:##:##.* warning | shown 7\n")) << out;
}

TEST_F(LogTest, DateTimeAndTimeTogetherPrintTheDate) {
    writeFile(path("SluiceLog.ini"), "[Console]\nEnabled=true\nFormat=datetime,time\n");
    ASSERT_EQ(CLog::config("SluiceLog.ini"), 0);
    testing::internal::CaptureStdout();
    CLog::info("x\n");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(looksLike(out, "####-##-## ##:##:##.* info | x\n")) << out;
}

TEST_F(LogTest, ASectionWithoutEnabledIsDisabled) {
    writeFile(path("SluiceLog.ini"),
              "[Console]\nEnabled=true\nLevel=fatal\n[File]\nFileName=out.log\n");
    ASSERT_EQ(CLog::config("SluiceLog.ini"), 0);
    CLog::fatal("x\n");
    EXPECT_FALSE(testsupport::fileExists(path("out.log")));
}

TEST_F(LogTest, MissingSettingsFileKeepsTheSinks) {
    CLog::setFunctionWriter(&capture, 0, 0);
    EXPECT_EQ(CLog::config("SluiceLog.ini"), 2);
    EXPECT_EQ(CLog::config(""), 0);
    EXPECT_EQ(CLog::config(nullptr), 0);
    CLog::info("still here\n");
    std::lock_guard<std::mutex> lock(g_mutex);
    ASSERT_EQ(g_captured.size(), 1u);
}

TEST_F(LogTest, SilentWithoutSettingsFile) {
    // What library start-up does when the file is missing.
    ASSERT_NE(CLog::config("SluiceLog.ini"), 0);
    ASSERT_EQ(CLog::setWriter(CLog::kDebugger, 0, CLog::kDateTime), 0);
    testing::internal::CaptureStdout();
    logEveryLevel();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    std::string listing;
    testsupport::shell("ls -A '" + m_dir.path() + "'", &listing);
    EXPECT_EQ(listing, "");
}

TEST_F(LogTest, UnknownSinkTypeIsRefused) {
    EXPECT_EQ(CLog::setWriter(4, 0, 0), 22);
    EXPECT_EQ(CLog::setWriter(-1, 0, 0), 22);
    EXPECT_EQ(CLog::setWriter(5, 0, 0), 22);
}

TEST_F(LogTest, LongMessageReachesTheSinksWhole) {
    CLog::setFunctionWriter(&capture, 0, 0);
    const std::string body(3000, 'x');
    CLog::warning("%s|%d\n", body.c_str(), 42);
    std::lock_guard<std::mutex> lock(g_mutex);
    ASSERT_EQ(g_captured.size(), 1u);
    EXPECT_EQ(g_captured[0].text, body + "|42\n");
}

TEST_F(LogTest, FileNameIsCutAtTheFirstSpace) {
    writeFile(path("SluiceLog.ini"), "[File]\nEnabled=true\nFileName=first second.log\n");
    ASSERT_EQ(CLog::config("SluiceLog.ini"), 0);
    EXPECT_EQ(CLog::getFileName(), "first");
    CLog::info("x\n");
    EXPECT_EQ(readFile(path("first")), "x\n");
}

TEST_F(LogTest, MissingDirectoriesAreCreatedWithMode0700) {
    writeFile(path("SluiceLog.ini"), "[File]\nEnabled=true\nFileName=one/two/sluice.log\n");
    ASSERT_EQ(CLog::config("SluiceLog.ini"), 0);
    CLog::info("x\n");
    EXPECT_EQ(modeOf(path("one")), 0700u);
    EXPECT_EQ(modeOf(path("one/two")), 0700u);
    EXPECT_EQ(readFile(path("one/two/sluice.log")), "x\n");
}

TEST_F(LogTest, FileParametersFallBackToDefaults) {
    EXPECT_EQ(CLog::setFileParam(nullptr, 0, 0), 0);
    EXPECT_EQ(CLog::getFileName(), "app.log");
    EXPECT_EQ(CLog::setFileParam(std::string(256, 'a').c_str(), 1, 1), 22);
    EXPECT_EQ(CLog::getFileName(), "app.log");
}

TEST_F(LogTest, FileSinkMovesWhenTheFileNameChanges) {
    ASSERT_EQ(CLog::setWriter(CLog::kFile, 0, 0), 0);
    CLog::info("a\n");
    CLog::setFileParam("moved/b.log", 1, 2);
    CLog::info("b\n");
    EXPECT_EQ(readFile(path("app.log")), "a\n");
    EXPECT_EQ(readFile(path("moved/b.log")), "b\n");
}

TEST_F(LogTest, RollingWithRollCountTwoKeepsTwoOlderFiles) {
    const std::string log = path("roll.log");
    writeFile(log + ".1", "older\n");
    writeFile(log + ".2", "oldest\n");
    comn::detail::FileLogWriter writer(log, 20, 2);
    writer.write(1, "0123456789\n", 11, 0);  // 11 bytes: below the limit
    EXPECT_EQ(readFile(log + ".1"), "older\n");
    writer.write(1, "abcdefghij\n", 11, 0);  // 22 bytes: reaches the limit, rolls over
    EXPECT_FALSE(testsupport::fileExists(log));
    EXPECT_EQ(readFile(log + ".1"), "0123456789\nabcdefghij\n");
    EXPECT_EQ(readFile(log + ".2"), "older\n");
    EXPECT_FALSE(testsupport::fileExists(log + ".3"));
    writer.write(1, "new\n", 4, 0);
    EXPECT_EQ(readFile(log), "new\n");
    EXPECT_EQ(writer.currentSize(), 4u);
}

TEST_F(LogTest, FileSinkAppendsToAnExistingFileAndCountsItsSize) {
    const std::string log = path("keep.log");
    writeFile(log, "12345");
    comn::detail::FileLogWriter writer(log, 8, 2);
    EXPECT_EQ(writer.currentSize(), 5u);
    writer.write(1, "678", 3, 0);
    EXPECT_EQ(readFile(log + ".1"), "12345678");
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

TEST_F(LogTest, SyslogPrioritiesFollowTheLevels) {
    using comn::detail::SyslogWriter;
    EXPECT_EQ(SyslogWriter::priorityOf(0), LOG_DEBUG);
    EXPECT_EQ(SyslogWriter::priorityOf(1), LOG_DEBUG);
    EXPECT_EQ(SyslogWriter::priorityOf(2), LOG_INFO);
    EXPECT_EQ(SyslogWriter::priorityOf(3), LOG_WARNING);
    EXPECT_EQ(SyslogWriter::priorityOf(4), LOG_ERR);
    EXPECT_EQ(SyslogWriter::priorityOf(5), LOG_CRIT);
    EXPECT_EQ(SyslogWriter::priorityOf(17), LOG_DEBUG);
}

TEST(HexString, TwoLowercaseDigitsPerByte) {
    const uint8_t bytes[] = {0x00, 0x1F, 0xAB, 0x67};
    EXPECT_EQ(comn::toHexString(bytes, sizeof bytes), "001fab67");
    EXPECT_EQ(comn::toHexString(bytes, 0), "");
}
