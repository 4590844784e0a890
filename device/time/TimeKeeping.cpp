#include "TimeKeeping.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "Console.h"
#include "TimeZone.h"
#include "board/Board.h"
#include "board/Command.h"
#include "board/Device.h"
#include "board/System.h"

namespace enc {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr const char* kRtcDevice = "/dev/hi_rtc";
// The network may still be coming up when the first synchronisation starts.
constexpr seconds kSettleTime{15};
constexpr seconds kRetryPause{20};
constexpr int kNtpAttempts = 2;
// Steps of the interruptible sleeper: short enough that a signal ends the main loop
// within one of its passes.
constexpr milliseconds kSleepStep{100};

bool rtcPresent() {
    return ::access(board::path(kRtcDevice).c_str(), F_OK) == 0;
}

board::RtcTime rtcRecord(const std::tm& time) {
    board::RtcTime record{};
    record.year = time.tm_year + 1900;
    record.month = time.tm_mon + 1;
    record.date = time.tm_mday;
    record.hour = time.tm_hour;
    record.minute = time.tm_min;
    record.second = time.tm_sec;
    record.weekday = 0;  // the driver ignores it
    return record;
}

bool runNtpd(const std::string& server) {
    const int status = board::run({"/usr/sbin/ntpd", "-p", server, "-qNn"});
    if (status == -1) {
        say("system error\n");
        return false;
    }
    if (WIFEXITED(status)) {
        if (WEXITSTATUS(status) == 0) {
            say("run  successfully\n");
            return true;
        }
        say("run failed %d \n", WEXITSTATUS(status));
        return false;
    }
    say("exit code %d \n", WEXITSTATUS(status));
    return false;
}

void printBrokenDown(const std::tm& time) {
    char text[64] = {0};
    asctime_r(&time, text);
    const board::RtcTime record = rtcRecord(time);
    say("local time : %s\n", text);
    say("HI year:%d\n", record.year);
    say("HI month:%d\n", record.month);
    say("HI date:%d\n", record.date);
    say("HI hour:%d\n", record.hour);
    say("HI minute:%d\n", record.minute);
    say("HI second:%d\n", record.second);
}

bool inRange(int value, int low, int high) {
    return value >= low && value <= high;
}

}  // namespace

bool realSleep(milliseconds duration) {
    std::this_thread::sleep_for(duration);
    return true;
}

Sleeper steppedSleeper(std::function<bool()> keepGoing) {
    return [keepGoing = std::move(keepGoing)](milliseconds duration) {
        while (duration.count() > 0) {
            if (!keepGoing()) {
                return false;
            }
            const milliseconds step = std::min(duration, kSleepStep);
            std::this_thread::sleep_for(step);
            duration -= step;
        }
        return keepGoing();
    };
}

int syncNtp(const std::string& server, const Sleeper& sleep, const WallClock& now) {
    if (!sleep(kSettleTime)) {
        return -1;
    }
    bool synchronised = false;
    for (int attempt = 0; attempt < kNtpAttempts && !synchronised; ++attempt) {
        synchronised = runNtpd(server);
        if (!synchronised && !sleep(kRetryPause)) {
            return -1;
        }
    }
    if (!synchronised) {
        return -1;
    }
    board::run({"/sbin/hwclock", "-w"});

    // The board's clock keeps local time: UTC moved by the zone of "/etc/TZ".
    const int offset = boardZoneOffset();
    const time_t utc = now ? now() : std::time(nullptr);
    std::tm local{};
    gmtime_r(&utc, &local);
    local.tm_hour -= offset / 3600;
    local.tm_isdst = 0;
    board::setSystemClock(std::mktime(&local));
    printBrokenDown(local);

    if (setRtc(local) == RtcWrite::Written) {
        say("set time to RTC\n");
    }
    return 0;
}

RtcWrite setRtc(const std::tm& time) {
    if (!rtcPresent()) {
        return RtcWrite::NoDevice;
    }
    const int fd = board::openDevice(kRtcDevice, O_RDWR);
    if (fd < 0) {
        say("open rtc %s failed\n", kRtcDevice);
        return RtcWrite::Failed;
    }
    const int rc = board::rtcSetTime(fd, rtcRecord(time));
    ::close(fd);
    if (rc != 0) {
        say("ioctl: HI_RTC_RD_TIME failed\n");
        return RtcWrite::Failed;
    }
    return RtcWrite::Written;
}

int setManualTime(const TimeSettings& request) {
    // Out-of-range fields would reach the RTC driver and the clock as nonsense dates.
    if (!inRange(request.year, 1900, 9999) || !inRange(request.month, 0, 11) ||
        !inRange(request.date, 1, 31) || !inRange(request.hour, 0, 23) ||
        !inRange(request.min, 0, 59) || !inRange(request.sec, 0, 60)) {
        say("invalid time: %d-%d-%d %d:%d:%d\n", request.year, request.month, request.date,
            request.hour, request.min, request.sec);
        return -1;
    }
    std::tm requested{};
    requested.tm_year = request.year - 1900;
    requested.tm_mon = request.month;
    requested.tm_mday = request.date;
    requested.tm_hour = request.hour;
    requested.tm_min = request.min;
    requested.tm_sec = request.sec;

    // Adding h hours with timegm/gmtime carries into the date in either direction,
    // whatever the process's own time zone is.
    const time_t shiftedSeconds = timegm(&requested) - boardZoneOffset();
    std::tm shifted{};
    gmtime_r(&shiftedSeconds, &shifted);

    if (setRtc(shifted) == RtcWrite::Failed) {
        return -1;
    }
    shifted.tm_isdst = 0;
    board::setSystemClock(std::mktime(&shifted));
    board::run({"/sbin/hwclock", "-w"});
    return 0;
}

int getLocalTime(TimeSettings& out, time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    out.year = local.tm_year + 1900;
    out.month = local.tm_mon + 1;
    out.date = local.tm_mday;
    out.day = local.tm_wday;
    out.hour = local.tm_hour;
    out.min = local.tm_min;
    out.sec = local.tm_sec;
    return 0;
}

}  // namespace enc
