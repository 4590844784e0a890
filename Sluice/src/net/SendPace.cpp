#include "SendPace.h"

#include <algorithm>

namespace av {

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

SendPace::Tick SendPace::next(size_t backlog, bool draining) const {
    if (draining) {
        return {kMinPeriodNs, kBurst};
    }
    const size_t ticks = std::max<size_t>(1, (backlog + kBurst - 1) / kBurst);
    const int64_t byBacklog =
        std::clamp(kHorizonNs / static_cast<int64_t>(ticks), kMinPeriodNs, kHorizonNs);
    if (m_rate <= 0) {
        return {byBacklog, kBurst};
    }
    const int64_t even =
        std::clamp(static_cast<int64_t>(1e9 / (kHeadroom * m_rate)), kMinPeriodNs, kHorizonNs);
    const double budget = std::min(m_rate * static_cast<double>(kSmoothingNs) / 1e9,
                                   static_cast<double>(kSmoothingDatagrams));
    if (static_cast<double>(backlog) <= budget) {
        return {even, 1};
    }
    return {std::min(byBacklog, even), kBurst};
}

}  // namespace av
