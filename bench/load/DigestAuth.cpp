#include "DigestAuth.h"

#include <gnutls/crypto.h>

#include <cstdio>
#include <cstring>

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

}  // namespace

bool DigestAuth::takeChallenge(const std::string& header) {
    if (header.compare(0, 7, "Digest ") != 0) {
        return false;
    }
    m_realm = param(header, "realm");
    m_nonce = param(header, "nonce");
    m_opaque = param(header, "opaque");
    m_qopAuth = param(header, "qop").find("auth") != std::string::npos;
    m_count = 0;
    return !m_nonce.empty();
}

std::string DigestAuth::authorization(const std::string& method, const std::string& uri) {
    const std::string ha1 = md5(m_user + ":" + m_realm + ":" + m_password);
    const std::string ha2 = md5(method + ":" + uri);
    char count[9];
    std::snprintf(count, sizeof count, "%08x", ++m_count);
    const std::string cnonce = "b3nch" + std::to_string(m_count);
    const std::string response =
        m_qopAuth ? md5(ha1 + ":" + m_nonce + ":" + count + ":" + cnonce + ":auth:" + ha2)
                  : md5(ha1 + ":" + m_nonce + ":" + ha2);
    std::string header = "Digest username=\"" + m_user + "\", realm=\"" + m_realm + "\", nonce=\"" +
                         m_nonce + "\", uri=\"" + uri + "\", algorithm=MD5, response=\"" +
                         response + "\"";
    if (m_qopAuth) {
        header += std::string(", qop=auth, nc=") + count + ", cnonce=\"" + cnonce + "\"";
    }
    if (!m_opaque.empty()) {
        header += ", opaque=\"" + m_opaque + "\"";
    }
    return header;
}

std::string DigestAuth::param(const std::string& header, const std::string& name) {
    // name="value" or name=value, preceded by a blank or a comma.
    size_t at = 0;
    while ((at = header.find(name + "=", at)) != std::string::npos) {
        if (at > 0 && header[at - 1] != ' ' && header[at - 1] != ',') {
            at += name.size();
            continue;
        }
        size_t begin = at + name.size() + 1;
        if (begin < header.size() && header[begin] == '"') {
            const size_t end = header.find('"', begin + 1);
            return header.substr(begin + 1, end == std::string::npos ? end : end - begin - 1);
        }
        const size_t end = header.find(',', begin);
        return header.substr(begin, end == std::string::npos ? end : end - begin);
    }
    return "";
}
