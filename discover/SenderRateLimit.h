#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "RateWindow.h"

namespace discover {

/// At most a number of events per sender in each window of time (RateWindow each): the lines
/// about refused commands (1 a minute). Anyone on the LAN can send, so the table of senders is
/// bounded; when it is full, windows that have ended are
/// dropped, and if none has, the oldest one.
/// Not thread-safe (peerlo has one thread).
class SenderRateLimit {
public:
    using Clock = RateWindow::Clock;

    /// Senders remembered at once; more spoofed addresses than this only cycle the table.
    static constexpr size_t kMaxSenders = 1024;

    SenderRateLimit(unsigned perWindow, Clock::duration window);

    /// True when the sender (an IPv4 address in network order) may have one more event at
    /// `now`; counts it then. Windows start at a sender's first event after the last ended.
    bool allow(uint32_t sender, Clock::time_point now);

    size_t senders() const { return m_windows.size(); }

private:
    void makeRoom(Clock::time_point now);

    unsigned m_perWindow;
    Clock::duration m_window;
    std::unordered_map<uint32_t, RateWindow> m_windows;
};

}  // namespace discover
