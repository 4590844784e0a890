// bench-wake: how late this machine wakes a thread that sleeps to absolute deadlines, the
// floor under any paced sender's delay factor (a sender cannot send before it runs).
//
//   bench-wake [--seconds S] [--period-us P] [--priority N]
//
// Sleeps to deadlines P microseconds apart for S seconds, or with S 0 until standard input
// gives a line or ends (as long as the runs it watches); clock_nanosleep, timer slack 1 ns,
// as libSluice's sending thread, on the real-time scheduler at priority N when N > 0 and the
// system allows it. Prints one JSON object: wakes, realtime (whether the priority took),
// late_over_1ms and late_over_2ms (wakes that late), p99_us and worst_ms, and worst_per_s_ms:
// for each second, its latest wake (a delay factor is taken per second).
#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "BenchArgs.h"
#include "BenchClock.h"

int main(int argc, char** argv) {
    BenchArgs args(argc, argv, {});
    const long seconds = args.number("--seconds", 10, 0, 3600);
    const long periodUs = args.number("--period-us", 1000, 50, 1000000);
    const long priority = args.number("--priority", 0, 0, 99);
    if (!args.ok()) {
        std::fprintf(stderr, "bench-wake: %s\n", args.error().c_str());
        return 2;
    }
    bool realtime = false;
    if (priority > 0) {
        sched_param param{};
        param.sched_priority = static_cast<int>(priority);
        realtime = sched_setscheduler(0, SCHED_FIFO, &param) == 0;
    }
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::atomic<bool> told{false};
    if (seconds == 0) {
        std::thread([&told] {
            std::string line;
            std::getline(std::cin, line);
            told = true;
        }).detach();
    }
    std::vector<int64_t> lateness;
    std::vector<int64_t> worstPerSecond;
    const int64_t start = monotonicNs();
    const int64_t end = seconds > 0 ? start + seconds * 1'000'000'000LL : INT64_MAX;
    for (int64_t deadline = start + periodUs * 1000; deadline < end && !told;
         deadline += periodUs * 1000) {
        timespec at{};
        at.tv_sec = static_cast<time_t>(deadline / 1'000'000'000);
        at.tv_nsec = static_cast<long>(deadline % 1'000'000'000);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
        }
        const int64_t late = monotonicNs() - deadline;
        lateness.push_back(late);
        const auto second = static_cast<size_t>((deadline - start) / 1'000'000'000);
        worstPerSecond.resize(std::max(worstPerSecond.size(), second + 1), 0);
        worstPerSecond[second] = std::max(worstPerSecond[second], late);
    }
    const auto over = [&](int64_t ns) {
        return std::count_if(lateness.begin(), lateness.end(), [ns](int64_t l) { return l > ns; });
    };
    if (lateness.empty()) {
        lateness.push_back(0);
    }
    std::vector<int64_t> sorted = lateness;
    std::sort(sorted.begin(), sorted.end());
    std::string perSecond;
    for (int64_t worst : worstPerSecond) {
        char text[32];
        std::snprintf(text, sizeof text, "%s%.2f", perSecond.empty() ? "" : ",", worst / 1e6);
        perSecond += text;
    }
    std::printf(
        "{\"wakes\":%zu,\"realtime\":%s,\"late_over_1ms\":%ld,\"late_over_2ms\":%ld,"
        "\"p99_us\":%.1f,\"worst_ms\":%.3f,\"worst_per_s_ms\":[%s]}\n",
        sorted.size(), realtime ? "true" : "false", static_cast<long>(over(1'000'000)),
        static_cast<long>(over(2'000'000)), sorted[sorted.size() * 99 / 100] / 1e3,
        sorted.back() / 1e6, perSecond.c_str());
    return 0;
}
