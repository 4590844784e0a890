#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "TestSupport.h"
#include "TimeKeeping.h"
#include "TimeSyncSchedule.h"
#include "TimeZone.h"
#include "board/Device.h"

namespace {

using testsupport::readFile;
using testsupport::SandboxBoard;
using testsupport::ScopedEnv;
using testsupport::writeFile;
using namespace std::chrono_literals;

board::RtcTime readRtc(const SandboxBoard& b) {
    const std::string bytes = readFile(b.path("/dev/hi_rtc"));
    board::RtcTime rtc{};
    EXPECT_GE(bytes.size(), sizeof rtc);
    std::memcpy(&rtc, bytes.data(), std::min(bytes.size(), sizeof rtc));
    return rtc;
}

std::vector<int> fields(const board::RtcTime& t) {
    return {t.year, t.month, t.date, t.hour, t.minute, t.second, t.weekday};
}

// Replaces a sandbox tool by a script that records how many arguments it got and each of
// them on its own line.
void recordingStub(const SandboxBoard& b, const std::string& tool, const std::string& record) {
    const std::string script =
        "#!/bin/sh\n{ echo \"$#\"; for a in \"$@\"; do echo \"$a\"; done; } > " + record +
        "\nexit 0\n";
    writeFile(b.path(tool), script);
    ::chmod(b.path(tool).c_str(), 0755);
}

// The board's clock conversions are checked against a process running in UTC.
class TimeFixture : public ::testing::Test {
protected:
    void SetUp() override { tzset(); }
    void TearDown() override { tzset(); }

    SandboxBoard m_board;
    ScopedEnv m_tz{"TZ", "UTC"};
};

TEST(ZoneOffset, EveryTableEntryStandsForItsPositionMinus12) {
    const auto& table = enc::zoneTable();
    ASSERT_EQ(table.size(), 24u);
    for (size_t i = 0; i < table.size(); ++i) {
        const int hour = static_cast<int>(i) - 12;
        // The names spell the hour modulo 24: "CST-13" is hour -11.
        EXPECT_EQ(std::string(table[i]), "CST-" + std::to_string((hour + 24) % 24));
        EXPECT_EQ(enc::zoneOffset(table[i]), -hour * 3600) << table[i];
    }
    for (const char* unknown : {"CST+8", "cst-8", "CST-8 ", "UTC", "", "CST-24"}) {
        EXPECT_EQ(enc::zoneOffset(unknown), 0) << unknown;
    }
    testing::internal::CaptureStderr();
    enc::zoneOffset("CST-13");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "CST-13, tz_index:-11\n");
}

// The RTC gets the zone-shifted time, carried across day, month and year ends.
TEST_F(TimeFixture, ManualSettingWritesTheZoneShiftedTimeWithMonthsFrom1) {
    struct Case {
        const char* zoneFile;  // nullptr: no zone file, no shift
        enc::TimeSettings request;
        std::vector<int> rtc;
    };
    const Case cases[] = {
        {"CST-8\n", {2023, 11, 31, 0, 20, 15, 30}, {2024, 1, 1, 4, 15, 30, 0}},
        {"CST-14 extra words\n", {2024, 0, 1, 0, 5, 0, 0}, {2023, 12, 31, 19, 0, 0, 0}},
        {nullptr, {2024, 0, 15, 0, 10, 20, 30}, {2024, 1, 15, 10, 20, 30, 0}},
    };
    for (const auto& c : cases) {
        if (c.zoneFile != nullptr) {
            writeFile(m_board.path("/etc/TZ"), c.zoneFile);
        } else {
            ::unlink(m_board.path("/etc/TZ").c_str());
        }
        m_board.clearBoardLog();
        EXPECT_EQ(enc::setManualTime(c.request), 0);
        EXPECT_EQ(fields(readRtc(m_board)), c.rtc) << c.request.year << "-" << c.request.month;
    }
    // 2024-01-15 10:20:30 as the process's (UTC) local time; the clock is only logged.
    EXPECT_EQ(m_board.boardLog(),
              (std::vector<std::string>{"stime 1705314030", "/sbin/hwclock -w"}));
}

TEST_F(TimeFixture, WithoutRtcTheClockIsStillSetButNotWhenTheRtcCannotBeOpened) {
    ::unlink(m_board.path("/dev/hi_rtc").c_str());
    writeFile(m_board.path("/etc/TZ"), "CST-0\n");
    m_board.clearBoardLog();
    const enc::TimeSettings request{2024, 5, 1, 0, 12, 0, 0};
    EXPECT_EQ(enc::setManualTime(request), 0);
    EXPECT_EQ(m_board.boardLog(),
              (std::vector<std::string>{"stime 1717243200", "/sbin/hwclock -w"}));

    ::mkdir(m_board.path("/dev/hi_rtc").c_str(), 0755);  // exists, but cannot be opened
    m_board.clearBoardLog();
    testing::internal::CaptureStdout();
    EXPECT_EQ(enc::setManualTime(request), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "open rtc /dev/hi_rtc failed\n");
    EXPECT_TRUE(m_board.boardLog().empty());
}

TEST_F(TimeFixture, OutOfRangeRequestsChangeNothing) {
    const enc::TimeSettings bad[] = {
        {2024, 12, 1, 0, 0, 0, 0}, {2024, -1, 1, 0, 0, 0, 0}, {2024, 0, 0, 0, 0, 0, 0},
        {2024, 0, 32, 0, 0, 0, 0}, {2024, 0, 1, 0, 24, 0, 0}, {2024, 0, 1, 0, 0, 60, 0},
        {2024, 0, 1, 0, 0, 0, 61}, {99999, 0, 1, 0, 0, 0, 0},
    };
    const std::string rtcBefore = readFile(m_board.path("/dev/hi_rtc"));
    m_board.clearBoardLog();
    for (const auto& request : bad) {
        EXPECT_EQ(enc::setManualTime(request), -1);
    }
    EXPECT_EQ(readFile(m_board.path("/dev/hi_rtc")), rtcBefore);
    EXPECT_TRUE(m_board.boardLog().empty());
}

TEST_F(TimeFixture, LocalTimeCountsMonthsFrom1) {
    enc::TimeSettings now;
    EXPECT_EQ(enc::getLocalTime(now, 1704082530), 0);  // Monday 2024-01-01 04:15:30 UTC
    EXPECT_EQ(
        std::vector<int>({now.year, now.month, now.date, now.day, now.hour, now.min, now.sec}),
        std::vector<int>({2024, 1, 1, 1, 4, 15, 30}));
}

TEST_F(TimeFixture, NtpSynchronisationSetsBothClocksFromTheZoneShiftedUtc) {
    writeFile(m_board.path("/etc/TZ"), "CST-8\n");
    m_board.clearBoardLog();
    std::vector<std::chrono::milliseconds> sleeps;
    const enc::Sleeper sleeper = [&](std::chrono::milliseconds d) {
        sleeps.push_back(d);
        return true;
    };
    testing::internal::CaptureStdout();
    const int rc = enc::syncNtp("ntp.example.org", sleeper, [] { return time_t{1704040530}; });
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(sleeps, (std::vector<std::chrono::milliseconds>{15s}));
    // 2023-12-31 16:35:30 UTC is 2024-01-01 00:35:30 in CST-8.
    EXPECT_EQ(m_board.boardLog(),
              (std::vector<std::string>{"/usr/sbin/ntpd -p ntp.example.org -qNn",
                                        "/sbin/hwclock -w", "stime 1704069330"}));
    EXPECT_EQ(fields(readRtc(m_board)), (std::vector<int>{2024, 1, 1, 0, 35, 30, 0}));
    EXPECT_NE(output.find("run  successfully\n"), std::string::npos);
    EXPECT_NE(output.find("local time : Mon Jan  1 00:35:30 2024\n\n"), std::string::npos);
    EXPECT_NE(output.find("HI year:2024\nHI month:1\nHI date:1\nHI hour:0\nHI minute:35\n"
                          "HI second:30\nset time to RTC\n"),
              std::string::npos);
}

TEST_F(TimeFixture, FailedNtpRunsLeaveTheClocksAlone) {
    ::mkdir(m_board.path("/var/sandbox").c_str(), 0755);
    writeFile(m_board.path("/var/sandbox/ntpd.exit"), "3");
    const std::string rtcBefore = readFile(m_board.path("/dev/hi_rtc"));
    m_board.clearBoardLog();
    std::vector<std::chrono::milliseconds> sleeps;
    testing::internal::CaptureStdout();
    const int rc = enc::syncNtp("ntp.example.org", [&](std::chrono::milliseconds d) {
        sleeps.push_back(d);
        return true;
    });
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(sleeps, (std::vector<std::chrono::milliseconds>{15s, 20s, 20s}));
    EXPECT_EQ(m_board.boardLog(),
              (std::vector<std::string>{"/usr/sbin/ntpd -p ntp.example.org -qNn",
                                        "/usr/sbin/ntpd -p ntp.example.org -qNn"}));
    EXPECT_EQ(readFile(m_board.path("/dev/hi_rtc")), rtcBefore);
    EXPECT_NE(output.find("run failed 3 \nrun failed 3 \n"), std::string::npos);

    // An interrupted sleep abandons the synchronisation before ntpd runs.
    m_board.clearBoardLog();
    EXPECT_EQ(enc::syncNtp("ntp.example.org", [](std::chrono::milliseconds) { return false; }), -1);
    EXPECT_TRUE(m_board.boardLog().empty());
}

TEST_F(TimeFixture, NtpServerReachesNtpdAsOneArgument) {
    const std::string record = m_board.path("/tmp/ntpd.args");
    recordingStub(m_board, "/usr/sbin/ntpd", record);
    m_board.clearBoardLog();
    const std::string server = "pool.ntp.org; /sbin/reboot $(id)";
    EXPECT_EQ(enc::syncNtp(server, [](std::chrono::milliseconds) { return true; }), 0);
    EXPECT_EQ(testsupport::splitLines(readFile(record)),
              (std::vector<std::string>{"3", "-p", server, "-qNn"}));
    for (const auto& line : m_board.boardLog()) {
        EXPECT_NE(line, "/sbin/reboot");
    }
}

TEST(SteppedSleeper, StopsAsSoonAsTheCallerIsShuttingDown) {
    int checks = 0;
    const enc::Sleeper sleep = enc::steppedSleeper([&] { return ++checks < 3; });
    EXPECT_FALSE(sleep(std::chrono::hours(1)));
    EXPECT_EQ(checks, 3);
    EXPECT_TRUE(enc::steppedSleeper([] { return true; })(0ms));
}

TEST(TimeSyncSettings, IntervalServerAndLteMode) {
    const struct {
        int timeMode, cycle, connectionType;
        const char* server;
        bool enabled, lteMode;
        int hours;
        const char* usedServer;
    } cases[] = {
        {1, 0, 0, "", true, false, 4, enc::kDefaultTimeServer},  // "cycle" 0 means 4 hours
        {1, -2, 0, "", true, false, 4, enc::kDefaultTimeServer},
        {0, 6, 2, "ntp.example.org", false, true, 6, "ntp.example.org"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cycle);
        enc::FtpSettings ftp;
        ftp.timeMode = c.timeMode;
        ftp.ftptime = c.cycle;
        ftp.timeServer = c.server;
        enc::NetworkSettings net;
        net.connectionType = c.connectionType;
        const auto s = enc::timeSyncSettings(ftp, net);
        EXPECT_EQ(s.enabled, c.enabled);
        EXPECT_EQ(s.lteMode, c.lteMode);
        EXPECT_EQ(s.intervalHours, c.hours);
        EXPECT_EQ(s.server, c.usedServer);
    }
}

TEST(TimeSyncSchedule, InactiveScheduleNeverSynchronises) {
    enc::TimeSyncSchedule schedule(
        enc::timeSyncSettings(enc::FtpSettings(), enc::NetworkSettings()));
    int syncs = 0;
    for (int pass = 0; pass < 5000; ++pass) {
        schedule.onPass([&](const std::string&) { ++syncs; });
    }
    EXPECT_EQ(syncs, 0);
    EXPECT_EQ(schedule.ticks(), 0);
}

// The main loop's counter drives the real synchronisation; the sleeper stands in for the
// 15 s wait. With "cycle" 0 (4 hours) and passes counted as 3 s, pass 0 and pass 4800
// synchronise.
TEST_F(TimeFixture, ScheduleSynchronisesOnTheFirstPassAndEveryIntervalAfter) {
    enc::FtpSettings ftp;
    ftp.timeMode = 0;
    ftp.timeServer = "ntp.example.org";
    enc::NetworkSettings net;
    net.connectionType = 2;  // LTE mode synchronises even with time_mode 0
    enc::TimeSyncSchedule schedule(enc::timeSyncSettings(ftp, net));
    m_board.clearBoardLog();

    std::vector<int64_t> syncPasses;
    int sleeps = 0;
    const enc::Sleeper sleeper = [&](std::chrono::milliseconds) {
        ++sleeps;
        return true;
    };
    testing::internal::CaptureStdout();
    for (int pass = 0; pass <= 4800 + 1; ++pass) {
        const int64_t before = schedule.ticks();
        schedule.onPass([&](const std::string& server) {
            syncPasses.push_back(before);
            enc::syncNtp(server, sleeper);
        });
    }
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(syncPasses, (std::vector<int64_t>{0, 4800}));
    EXPECT_EQ(sleeps, 2);
    EXPECT_EQ(schedule.ticks(), 4802);
    size_t ntpRuns = 0;
    for (const auto& line : m_board.boardLog()) {
        ntpRuns += line == "/usr/sbin/ntpd -p ntp.example.org -qNn" ? 1 : 0;
    }
    EXPECT_EQ(ntpRuns, 2u);
    size_t starts = 0;
    for (const auto& line : testsupport::splitLines(output)) {
        starts += line == "start NTP" ? 1 : 0;
    }
    EXPECT_EQ(starts, 2u);
}

}  // namespace
