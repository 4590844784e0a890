#pragma once

#include <string>

/// HTTP digest access authentication (RFC 7616, MD5 as the device's server uses it) on the
/// client side: keeps the server's last challenge and signs requests with it. The MD5 is
/// GnuTLS's.
class DigestAuth {
public:
    DigestAuth(std::string user, std::string password)
        : m_user(std::move(user)), m_password(std::move(password)) {}

    /// Takes a WWW-Authenticate header value; false when it is no digest challenge.
    bool takeChallenge(const std::string& header);
    bool hasChallenge() const { return !m_nonce.empty(); }

    /// The Authorization header value for one request; every call counts a new nonce use.
    std::string authorization(const std::string& method, const std::string& uri);

private:
    static std::string param(const std::string& header, const std::string& name);

    std::string m_user;
    std::string m_password;
    std::string m_realm;
    std::string m_nonce;
    std::string m_opaque;
    bool m_qopAuth = false;
    unsigned m_count = 0;
};
