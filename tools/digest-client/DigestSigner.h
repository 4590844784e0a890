#pragma once
// The client side of HTTP digest authentication (RFC 7616 with MD5, as the device's web
// server speaks it), for the tests' raw requests and the benchmark's load: takes the server's
// challenge and signs requests the way browsers do (qop=auth, a count that goes up with
// every request). The MD5 is GnuTLS's, not the server's own.

#include <optional>
#include <string>

class DigestSigner {
public:
    DigestSigner(std::string user, std::string password)
        : m_user(std::move(user)), m_password(std::move(password)) {}

    /// Takes the realm, nonce, opaque and qop of a WWW-Authenticate header value; false when
    /// it is no digest challenge. The count starts again at 1.
    bool challenge(const std::string& wwwAuthenticate);
    bool hasChallenge() const { return !m_nonce.empty(); }

    /// The Authorization header value for one request with the next count (or with count
    /// nc, when given, without moving the count on).
    std::string sign(const std::string& method, const std::string& uri,
                     std::optional<unsigned> nc = std::nullopt);

    const std::string& nonce() const { return m_nonce; }
    bool stale() const { return m_stale; }

private:
    std::string m_user;
    std::string m_password;
    std::string m_realm;
    std::string m_nonce;
    std::string m_opaque;
    bool m_qopAuth = false;
    bool m_stale = false;
    unsigned m_count = 0;
};
