#pragma once
// Digest authentication of the web server's requests: the password file (fail closed), our
// own nonces (DigestNonces), and the lockout of addresses that guess (LoginThrottle).

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

struct MHD_Connection;

namespace http {

class DigestNonces;
class LoginThrottle;
class PasswordCache;

/// Not thread safe: one object belongs to the server's event loop. Every refusal is queued
/// on the connection here (401 with a challenge, or 429).
class DigestGuard {
public:
    /// nonceLifetime: how long a nonce stays valid. A new guard makes nonces no other guard
    /// accepts (another server instance, or the same server after a restart).
    explicit DigestGuard(std::chrono::seconds nonceLifetime);
    ~DigestGuard();
    DigestGuard(const DigestGuard&) = delete;
    DigestGuard& operator=(const DigestGuard&) = delete;

    /// True, with 429 and Retry-After queued, while client is locked out.
    bool lockedOut(MHD_Connection* conn, const std::string& client);

    /// Whether the request carries valid credentials for the password file at authFile
    /// ("" turns authentication off). When not, 401 is queued: with stale=true when the
    /// password was right but the nonce, its count or the URI was not (no failed login),
    /// otherwise a failed login of client is counted when a wrong password was sent. A file
    /// that cannot be read refuses everything (reported once until it is back).
    bool admit(MHD_Connection* conn, const std::string& authFile, const char* method,
               const std::string& rawTarget, const std::string& client);

    /// Counts a failed login of client that was made another way (a wrong bearer token), so
    /// that it meets the same lockout.
    void countFailure(const std::string& client);
    /// Failed logins counted since the guard was made.
    uint64_t failures() const { return m_failures; }

private:
    void challenge(MHD_Connection* conn, bool stale);

    std::unique_ptr<PasswordCache> m_passwords;
    std::unique_ptr<DigestNonces> m_nonces;
    std::unique_ptr<LoginThrottle> m_throttle;
    std::string m_opaque;
    bool m_unreadableReported = false;
    uint64_t m_failures = 0;
};

}  // namespace http
