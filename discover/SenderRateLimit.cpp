#include "SenderRateLimit.h"

#include <algorithm>

namespace discover {

SenderRateLimit::SenderRateLimit(unsigned perWindow, Clock::duration window)
    : m_perWindow(perWindow), m_window(window) {}

bool SenderRateLimit::allow(uint32_t sender, Clock::time_point now) {
    auto it = m_windows.find(sender);
    if (it == m_windows.end()) {
        if (m_windows.size() >= kMaxSenders) {
            makeRoom(now);
        }
        it = m_windows.emplace(sender, RateWindow(m_perWindow, m_window)).first;
    }
    return it->second.allow(now);
}

void SenderRateLimit::makeRoom(Clock::time_point now) {
    for (auto it = m_windows.begin(); it != m_windows.end();) {
        it = it->second.ended(now) ? m_windows.erase(it) : std::next(it);
    }
    if (m_windows.size() >= kMaxSenders) {
        m_windows.erase(std::min_element(
            m_windows.begin(), m_windows.end(),
            [](const auto& a, const auto& b) { return a.second.start() < b.second.start(); }));
    }
}

}  // namespace discover
