#pragma once

#include <cstddef>
#include <cstdint>

/// Decides how long the sender waits between two ticks, from the stream's own rate (the
/// datagrams' arrival, measured over windows) and the backlog. Each tick gives every
/// destination at most kBurst datagrams, so the tick period sets the pace:
///  - twice the measured rate, so a destination that fell behind catches up;
///  - fast enough that the current backlog goes out within kHorizonNs, so a large frame's
///    datagrams are spread over about one frame interval and a faster stream is never
///    held back by an old measurement.
/// Times are monotonic nanoseconds. Not thread-safe (the sender's lock guards it).
class SendPace {
public:
    /// Datagrams back to back towards one destination, at most.
    static constexpr size_t kBurst = 4;
    /// One frame interval at 25 frames per second: the backlog of a frame is spread over it.
    static constexpr int64_t kHorizonNs = 40'000'000;
    /// The shortest tick: 4 datagrams per 20 us is 2 Gbit/s per destination, so a writer
    /// far ahead of real time is followed, yet the sender never spins.
    static constexpr int64_t kMinPeriodNs = 20'000;
    /// The rate is measured over windows of at least this length.
    static constexpr int64_t kWindowNs = 100'000'000;

    /// A datagram arrived from the multiplexer at nowNs.
    void onArrival(int64_t nowNs);
    /// The wait before the next tick for this backlog (datagrams of the furthest-behind
    /// destination); the shortest period when draining.
    int64_t period(size_t backlog, bool draining) const;
    /// Datagrams per second, 0 before the first window has closed.
    double rate() const { return m_rate; }

private:
    int64_t m_windowStart = -1;
    uint64_t m_windowCount = 0;
    double m_rate = 0;
};
