#include "SendPace.h"

#include <algorithm>

void SendPace::onArrival(int64_t nowNs) {
    if (m_windowStart < 0) {
        m_windowStart = nowNs;
    }
    ++m_windowCount;
    const int64_t elapsed = nowNs - m_windowStart;
    if (elapsed >= kWindowNs) {
        const double rate = static_cast<double>(m_windowCount) * 1e9 / static_cast<double>(elapsed);
        // Smoothed, so one idle or hurried window does not swing the pace.
        m_rate = m_rate <= 0 ? rate : (3 * m_rate + rate) / 4;
        m_windowStart = nowNs;
        m_windowCount = 0;
    }
}

int64_t SendPace::period(size_t backlog, bool draining) const {
    if (draining) {
        return kMinPeriodNs;
    }
    const size_t ticks = std::max<size_t>(1, (backlog + kBurst - 1) / kBurst);
    int64_t period = kHorizonNs / static_cast<int64_t>(ticks);
    if (m_rate > 0) {
        // kBurst per tick at twice the arrival rate.
        const auto byRate = static_cast<int64_t>(1e9 * kBurst / (2 * m_rate));
        period = std::min(period, byRate);
    }
    return std::clamp(period, kMinPeriodNs, kHorizonNs);
}
