#pragma once
// Keeping the system clock and the board's RTC right: one NTP synchronisation, the RTC
// write, and the manual clock setting and reading behind the web API's "/adjusttime".
//
// The RTC is reached through the board layer ("/dev/hi_rtc", emulated on a regular file in
// the sandbox); the system clock is set through board::setSystemClock, which the sandbox
// only logs. None of these functions lock anything: synchronisation runs on the main
// thread and the manual setting on the HTTP worker, unserialised, as the device always did.

#include <chrono>
#include <ctime>
#include <functional>
#include <string>

#include "EncoderRecords.h"

namespace enc {

/// Sleeps for the given time. Returns false when the sleep was cut short because the
/// caller is shutting down; the operation then gives up at once.
using Sleeper = std::function<bool(std::chrono::milliseconds)>;

/// Sleeps the whole time; never cut short.
bool realSleep(std::chrono::milliseconds duration);

/// A sleeper that sleeps in steps of at most 100 ms and stops early, returning false, as
/// soon as keepGoing() answers false (for the main loop, whose signals must end it quickly).
Sleeper steppedSleeper(std::function<bool()> keepGoing);

/// The current time as seconds since the epoch (empty: std::time).
using WallClock = std::function<time_t()>;

/// One NTP synchronisation, on the caller's thread:
///  - sleeps 15 s (the network may still be coming up);
///  - runs "/usr/sbin/ntpd -p <server> -qNn" (server as one argument) at most twice,
///    sleeping 20 s after each unsuccessful run;
///  - after a good run: "/sbin/hwclock -w", then the system clock is set to the UTC time
///    shifted by the zone of "/etc/TZ" (the board keeps local time), and the RTC is written.
/// Returns 0 when ntpd succeeded (whatever happened to the RTC), -1 when it did not or
/// when the sleeper was cut short; the clocks are then untouched.
int syncNtp(const std::string& server, const Sleeper& sleep = realSleep,
            const WallClock& now = WallClock());

enum class RtcWrite {
    Written,   // the record reached the driver
    NoDevice,  // "/dev/hi_rtc" does not exist: nothing to do
    Failed,    // open or driver call failed (printed)
};

/// Writes the broken-down time (tm_year from 1900, tm_mon from 0) to the RTC as the
/// driver's record (full year, month 1-12, weekday 0) when "/dev/hi_rtc" exists.
RtcWrite setRtc(const std::tm& time);

/// The manual clock setting (request month counted from 0): shifts the request by the
/// zone of "/etc/TZ" (adds h hours, carrying into the date), writes the RTC, sets the
/// system clock and runs "/sbin/hwclock -w". 0 on success; -1 when a field is out of range
/// or the RTC cannot be written, in which case no clock is changed.
int setManualTime(const TimeSettings& request);

/// The current local time for "/adjusttime": full year, month 1-12, date, day of the week
/// (0 = Sunday), hour, min, sec. Always 0.
int getLocalTime(TimeSettings& out, time_t now = std::time(nullptr));

}  // namespace enc
