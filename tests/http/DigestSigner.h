#pragma once
// Digest credentials for raw test requests: takes the server's challenge and signs requests
// the way browsers do (MD5, qop=auth, a count that goes up with every request).

#include <optional>
#include <string>

namespace httptest {

class DigestSigner {
public:
    DigestSigner(std::string user, std::string password)
        : m_user(std::move(user)), m_password(std::move(password)) {}

    /// Takes the nonce, realm and opaque of a WWW-Authenticate header; false when it is not
    /// a digest challenge. The count starts again at 1.
    bool challenge(const std::string& wwwAuthenticate);

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
    bool m_stale = false;
    unsigned m_count = 0;
};

}  // namespace httptest
