#pragma once

#include <time.h>

#include <cstdint>

/// CLOCK_MONOTONIC in nanoseconds. Every benchmark program stamps its events with it, so the
/// runner can subtract a sender's start from a receiver's last byte (same machine, same clock).
inline int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}
