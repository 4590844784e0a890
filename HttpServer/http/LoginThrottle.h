#pragma once
// Brute-force lockout: an address that fails to authenticate too often in a short time is
// refused (429) for a while. Other addresses are not affected.

#include <chrono>
#include <deque>
#include <map>
#include <string>

namespace http {

/// Not thread safe: one object belongs to the server's event loop. Times are passed in, so
/// the rules can be checked without waiting.
class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;

    /// kMaxFailures failed logins within kWindow lock the address for kLockout.
    static constexpr int kMaxFailures = 10;
    static constexpr std::chrono::seconds kWindow{60};
    static constexpr std::chrono::seconds kLockout{60};
    /// Addresses remembered at most; the oldest unlocked ones are forgotten first, so a
    /// flood of spoofed-looking sources cannot grow the table without bound.
    static constexpr size_t kMaxAddresses = 1024;

    /// Seconds the address stays locked (rounded up), 0 when it is not locked.
    int lockedFor(const std::string& address, Clock::time_point now);

    /// Counts one failed login. True when this failure starts a lockout (to be reported
    /// once per episode).
    bool fail(const std::string& address, Clock::time_point now);

private:
    struct Record {
        std::deque<Clock::time_point> failures;
        Clock::time_point lockedUntil{};
    };

    void forgetOld(Clock::time_point now);

    std::map<std::string, Record> m_records;
};

}  // namespace http
