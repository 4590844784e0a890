#pragma once

#include <chrono>

namespace discover {

/// At most a number of events in each window of time; a window starts with the first event
/// after the last one ended. The one counting rule behind peerlo's limits: per sender
/// (SenderRateLimit) and for the daemon as a whole. Plain value; not thread-safe.
class RateWindow {
public:
    using Clock = std::chrono::steady_clock;

    RateWindow(unsigned perWindow, Clock::duration window);

    /// True when one more event may happen at `now`; counts it then.
    bool allow(Clock::time_point now);

    /// True when no window is open at `now` (none started, or the last one has ended).
    bool ended(Clock::time_point now) const;

    /// When the current (or last) window started.
    Clock::time_point start() const { return m_start; }

private:
    unsigned m_perWindow;
    Clock::duration m_window;
    Clock::time_point m_start{};
    unsigned m_count = 0;
    bool m_started = false;
};

}  // namespace discover
