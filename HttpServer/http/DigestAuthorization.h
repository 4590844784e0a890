#pragma once
// The fields of an "Authorization: Digest ..." request header, and whether its response
// was computed from a given password. The web server library decides whether a header is
// fresh (its nonce, nonce count and URI); this tells a wrong password from a stale or
// replayed header, which must not count as a failed login.

#include <optional>
#include <string>
#include <string_view>

namespace http {

class DigestAuthorization {
public:
    virtual ~DigestAuthorization() = default;

    std::string username;
    std::string realm;
    std::string nonce;
    std::string uri;
    std::string qop;  ///< "auth" or "" (RFC 2069 style)
    std::string nc;
    std::string cnonce;
    std::string response;

    /// The header's fields; nothing when it is not a Digest header or lacks a field that
    /// every digest response needs (username, nonce, uri, response).
    static std::optional<DigestAuthorization> parse(std::string_view header);

    /// Whether response is the one a client knowing the password behind ha1 (hex) computes
    /// for this method and the header's own nonce, uri, nc and cnonce.
    bool responseMatches(std::string_view ha1, std::string_view method) const;
};

}  // namespace http
