#pragma once

#include <cstdint>

namespace comn {

/// Monotonic milliseconds; immune to changes of the wall clock.
class ClockTime {
public:
    virtual ~ClockTime() = default;
    /// CLOCK_MONOTONIC as seconds * 1000 + nanoseconds / 1,000,000.
    static int64_t getTime();
};

/// Measures elapsed monotonic milliseconds since construction.
class StopWatch {
public:
    StopWatch() : m_start(ClockTime::getTime()) {}
    virtual ~StopWatch() = default;

    int64_t elapsed() const { return ClockTime::getTime() - m_start; }

private:
    int64_t m_start;
};

}  // namespace comn
