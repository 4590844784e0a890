#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "CheckReport.h"

/// The RFC 4445 media delivery index of datagram input, per one-second interval: the delay
/// factor (the spread of a virtual buffer drained at the interval's average rate, in time)
/// and the media loss rate (TS packets lost, from the checker's continuity count); plus the
/// largest run of datagrams that arrived back to back (closer than burstGapNs).
class MdiMeter {
public:
    static constexpr int64_t kIntervalNs = 1'000'000'000;

    explicit MdiMeter(int64_t burstGapNs) : m_burstGapNs(burstGapNs) {}

    /// A datagram of size media bytes arrived at nowNs; lostSoFar is the checker's count of
    /// lost TS packets after it.
    void onDatagram(int64_t nowNs, size_t size, uint64_t lostSoFar);
    /// Closes the last interval and writes the figures into the report.
    void finish(CheckReport& report);

private:
    struct Arrival {
        int64_t at;
        size_t size;
    };
    void closeInterval(int64_t endNs);

    int64_t m_burstGapNs;
    int64_t m_intervalStart = -1;
    std::vector<Arrival> m_arrivals;  // of the current interval
    uint64_t m_lostAtStart = 0;
    uint64_t m_lost = 0;
    int64_t m_lastArrival = -1;
    uint64_t m_run = 0;
    uint64_t m_datagrams = 0;
    double m_maxDelayFactorMs = 0;
    double m_maxLossRate = 0;
    uint64_t m_largestBurst = 0;
};
