#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace av {

/// Digest authentication of RTSP requests (RFC 2617 with qop=auth, and RFC 2069 without qop,
/// which recorders and GStreamer's rtspsrc send) against a password file in the web server's
/// format: lines "user:realm:ha1", HA1 = MD5(user:realm:password) in lowercase hex. The realm
/// is the one of the file's first entry; entries of other realms are ignored.
///
/// Replays: a nonce belongs to one RTSP connection (the caller keeps one Nonce per
/// connection) and expires; with qop, every request must carry a higher nonce count.
/// Credentials are never logged. Single-threaded: the caller serialises.
class RtspDigestAuth {
public:
    /// A nonce lives this long; then the client is challenged again with stale=TRUE.
    static constexpr int64_t kNonceLifetimeMs = 60000;

    /// The nonce of one connection.
    struct Nonce {
        std::string value;       // empty until the first challenge
        int64_t issuedMs = 0;    // monotonic
        uint32_t lastCount = 0;  // highest nc accepted
    };

    enum class Result { Ok, Missing, Refused, Stale };

    /// Reads the password file (again when its contents changed). False when it cannot be
    /// read or holds no entry; every request is refused then.
    bool load(const std::string& path);
    const std::string& realm() const { return m_realm; }

    /// Checks an Authorization header for method and request URI against the connection's
    /// nonce at monotonic time nowMs.
    Result check(const std::string& method, const std::string& uri,
                 const std::string& authorization, Nonce& nonce, int64_t nowMs) const;

    /// The WWW-Authenticate value of a 401, with a fresh nonce stored in nonce.
    std::string challenge(Nonce& nonce, int64_t nowMs, bool stale) const;

    /// The parameters of a "Digest k=v, k="v"" header (names lowercased); false when it
    /// is not a well-formed digest header.
    static bool parseHeader(const std::string& header, std::map<std::string, std::string>& out);
    /// Lowercase hex MD5 of text.
    static std::string md5Hex(const std::string& text);

private:
    std::string m_realm;
    std::map<std::string, std::string> m_ha1;  // user -> HA1
};

}  // namespace av
