#pragma once

#include <cstddef>
#include <cstdint>

namespace av {

/// The schedule of a constant-rate stream, shared by the senders that pace one: when each
/// block's bytes are due by the stream's byte clock (the one its PCRs follow), and how soon a
/// sender that is behind may send its next burst. Times are monotonic nanoseconds.
/// Not thread-safe (the sender's lock guards it).
class ByteClock {
public:
    /// Room for the writer's own jitter before a block's due time: a writer at real-time pace
    /// that is late by less never makes the sender burst (measured: 20 ms was not enough for
    /// a writer on a busy machine).
    static constexpr int64_t kLatencyNs = 100'000'000;
    /// A writer that paused this long behind the clock starts it afresh.
    static constexpr int64_t kResyncNs = 500'000'000;

    /// bitsPerSecond 0: no clock (a variable stream). Starts the clock over.
    void setRate(int64_t bitsPerSecond);
    int64_t rate() const { return m_rate; }
    /// A new stream: its first block starts the clock over.
    void restart() { m_bytes = 0; }

    /// When the next size bytes of the stream, written at nowNs, are due (kLatencyNs after
    /// the first block's write, then by the rate); advances the clock. 0 without a rate.
    int64_t due(size_t size, int64_t nowNs);
    /// After a burst of burstBytes that ended at nowNs: the earliest time of the next one
    /// (earliestDueNs, the next block's due time, or later: a sender that is behind catches up
    /// at twice the rate, never faster).
    int64_t nextBurst(int64_t nowNs, size_t burstBytes, int64_t earliestDueNs) const;

private:
    int64_t m_rate = 0;
    int64_t m_anchorNs = 0;  // when byte 0 of the stream is due
    uint64_t m_bytes = 0;
};

}  // namespace av
