#pragma once

#include <cstddef>
#include <cstdint>

namespace av {

/// Decides when the sender's next tick is and how many datagrams each destination may get
/// in it, from the stream's own rate (the datagrams' arrival, measured over windows) and the
/// backlog:
///  - rate known, backlog within kSmoothingNs of stream (and kSmoothingDatagrams): one
///    datagram per tick, ticks a
///    quarter faster than the stream, so the stream leaves at an even pace (a key frame's
///    datagrams are spread like a constant-rate stream's) and a backlog still drains;
///  - further behind, or rate not yet known: up to kBurst per tick, ticks fast enough that
///    the backlog goes out within kHorizonNs (and at least as fast as the even pace).
/// Times are monotonic nanoseconds. Not thread-safe (the sender's lock guards it).
class SendPace {
public:
    struct Tick {
        int64_t periodNs;       // until the tick after this one
        size_t perDestination;  // datagrams each destination may get in this tick
    };

    /// Datagrams back to back towards one destination, at most.
    static constexpr size_t kBurst = 4;
    /// One frame interval at 25 frames per second: a backlog is spread over about this.
    static constexpr int64_t kHorizonNs = 40'000'000;
    /// The shortest tick: 4 datagrams per 20 us is 2 Gbit/s per destination, so a writer
    /// far ahead of real time is followed, yet the sender never spins.
    static constexpr int64_t kMinPeriodNs = 20'000;
    /// The rate is measured over windows of at least this length.
    static constexpr int64_t kWindowNs = 100'000'000;
    /// How much faster than the stream the even pace is: a backlog drains while it goes on.
    static constexpr double kHeadroom = 1.25;
    /// Backlog (in time of stream) smoothed at the even pace: a key frame of a one-second
    /// group of pictures fits; beyond it the sender catches up in bursts.
    static constexpr int64_t kSmoothingNs = 300'000'000;
    /// ... and never more than this many datagrams (a writer far ahead of real time would
    /// otherwise fill the send queue at one datagram per tick).
    static constexpr size_t kSmoothingDatagrams = 256;

    /// A datagram arrived from the multiplexer at nowNs.
    void onArrival(int64_t nowNs);
    /// The next tick for this backlog (datagrams of the furthest-behind destination);
    /// draining (closing): bursts at the shortest period.
    Tick next(size_t backlog, bool draining) const;
    /// Datagrams per second, 0 before the first window has closed.
    double rate() const { return m_rate; }

private:
    int64_t m_windowStart = -1;
    uint64_t m_windowCount = 0;
    double m_rate = 0;
};

}  // namespace av
