#pragma once
// The server side of digest nonces: issued fresh for every challenge, valid for a limited
// time, and each nonce count accepted once, higher than any before it.
//
// libmicrohttpd 0.9.75 has nonces of its own, but they fall short: it makes the same nonce
// for every challenge to one method and path within a second and resets that nonce's count
// whenever it issues it again, so an unauthenticated request made a captured header valid
// once more, and two clients starting within one second shared a nonce and shut each other
// out. These nonces are random and signed instead.

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

namespace http {

/// Not thread safe: one object belongs to the server's event loop.
class DigestNonces {
public:
    using Clock = std::chrono::steady_clock;

    /// Nonces whose counts are remembered at most. Only requests with the right password
    /// add one, so only the device's users fill the table; when it is full the oldest goes,
    /// and every nonce issued before it counts as stale from then on.
    static constexpr size_t kMaxTracked = 4096;

    enum class Use {
        Fresh,     ///< valid, and the count is higher than any seen: the request may go on
        Stale,     ///< not issued by this object (another server instance), or too old
        Replayed,  ///< a count not higher than one seen already
    };

    /// lifetime: how long a nonce stays valid after it was issued.
    explicit DigestNonces(std::chrono::seconds lifetime);

    /// A new nonce (hex text).
    std::string issue(Clock::time_point now);

    /// Checks a nonce and its count (hex text, as in the Authorization header) of a request
    /// whose credentials were right, and remembers the count.
    Use use(const std::string& nonce, const std::string& ncHex, Clock::time_point now);

private:
    bool signedByUs(const std::string& nonce, uint64_t& issuedMs) const;
    std::string signature(const std::string& body) const;

    std::chrono::seconds m_lifetime;
    std::string m_key;  // random per object
    Clock::time_point m_epoch;
    uint64_t m_floorMs = 0;  // nonces issued before this are stale (see kMaxTracked)
    std::map<std::string, uint64_t> m_highest;  // nonce -> highest count
};

}  // namespace http
