#include "LoginThrottle.h"

namespace http {

int LoginThrottle::lockedFor(const std::string& address, Clock::time_point now) {
    const auto it = m_records.find(address);
    if (it == m_records.end() || it->second.lockedUntil <= now) {
        return 0;
    }
    const auto left = it->second.lockedUntil - now;
    return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(left).count());
}

bool LoginThrottle::fail(const std::string& address, Clock::time_point now) {
    if (m_records.size() >= kMaxAddresses && m_records.find(address) == m_records.end()) {
        forgetOld(now);
    }
    Record& r = m_records[address];
    if (r.lockedUntil > now) {
        return false;  // already locked: this episode has been reported
    }
    while (!r.failures.empty() && now - r.failures.front() >= kWindow) {
        r.failures.pop_front();
    }
    r.failures.push_back(now);
    if (static_cast<int>(r.failures.size()) < kMaxFailures) {
        return false;
    }
    r.failures.clear();
    r.lockedUntil = now + kLockout;
    return true;
}

void LoginThrottle::forgetOld(Clock::time_point now) {
    for (auto it = m_records.begin(); it != m_records.end();) {
        const bool quiet =
            it->second.lockedUntil <= now &&
            (it->second.failures.empty() || now - it->second.failures.back() >= kWindow);
        it = quiet ? m_records.erase(it) : std::next(it);
    }
    if (m_records.size() >= kMaxAddresses) {
        // Every entry is busy: drop one that is not locked, so locks always hold.
        for (auto it = m_records.begin(); it != m_records.end(); ++it) {
            if (it->second.lockedUntil <= now) {
                m_records.erase(it);
                return;
            }
        }
    }
}

}  // namespace http
