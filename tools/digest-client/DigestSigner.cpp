#include "DigestSigner.h"

#include <gnutls/crypto.h>

#include <cstdio>

namespace {

// The MD5 of text in 32 lowercase hex digits.
std::string md5(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    unsigned char digest[16] = {};
    gnutls_hash_fast(GNUTLS_DIG_MD5, text.data(), text.size(), digest);
    std::string out;
    for (const unsigned char b : digest) {
        out += kHex[b >> 4];
        out += kHex[b & 0xf];
    }
    return out;
}

// name="value" or name=value, preceded by a blank or a comma.
std::string field(const std::string& header, const std::string& name) {
    const std::string key = name + "=";
    size_t at = header.find(key);
    while (at != std::string::npos && at > 0 && header[at - 1] != ' ' && header[at - 1] != ',') {
        at = header.find(key, at + 1);
    }
    if (at == std::string::npos) {
        return {};
    }
    const size_t start = at + key.size();
    if (start < header.size() && header[start] == '"') {
        const size_t end = header.find('"', start + 1);
        return header.substr(start + 1, end == std::string::npos ? end : end - start - 1);
    }
    const size_t end = header.find_first_of(", ", start);
    return header.substr(start, end == std::string::npos ? end : end - start);
}

}  // namespace

bool DigestSigner::challenge(const std::string& wwwAuthenticate) {
    if (wwwAuthenticate.rfind("Digest ", 0) != 0) {
        return false;
    }
    m_realm = field(wwwAuthenticate, "realm");
    m_nonce = field(wwwAuthenticate, "nonce");
    m_opaque = field(wwwAuthenticate, "opaque");
    m_qopAuth = field(wwwAuthenticate, "qop").find("auth") != std::string::npos;
    m_stale = field(wwwAuthenticate, "stale") == "true";
    m_count = 0;
    return !m_nonce.empty();
}

std::string DigestSigner::sign(const std::string& method, const std::string& uri,
                               std::optional<unsigned> nc) {
    const unsigned count = nc ? *nc : ++m_count;
    char ncText[9];
    std::snprintf(ncText, sizeof ncText, "%08x", count);
    const std::string cnonce = "0a4f113b" + std::to_string(count);
    const std::string ha1 = md5(m_user + ":" + m_realm + ":" + m_password);
    const std::string ha2 = md5(method + ":" + uri);
    const std::string response =
        m_qopAuth ? md5(ha1 + ":" + m_nonce + ":" + ncText + ":" + cnonce + ":auth:" + ha2)
                  : md5(ha1 + ":" + m_nonce + ":" + ha2);
    std::string header = "Digest username=\"" + m_user + "\", realm=\"" + m_realm + "\", nonce=\"" +
                         m_nonce + "\", uri=\"" + uri + "\", algorithm=MD5, response=\"" +
                         response + "\"";
    if (!m_opaque.empty()) {
        header += ", opaque=\"" + m_opaque + "\"";
    }
    if (m_qopAuth) {
        header += std::string(", qop=auth, nc=") + ncText + ", cnonce=\"" + cnonce + "\"";
    }
    return header;
}
