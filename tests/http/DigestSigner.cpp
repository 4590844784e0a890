#include "DigestSigner.h"

#include <cstdio>

#include "Md5.h"

namespace httptest {

namespace {

std::string field(const std::string& header, const std::string& name) {
    const std::string key = name + "=";
    size_t at = header.find(key);
    while (at != std::string::npos && at > 0 && header[at - 1] != ' ' && header[at - 1] != ',') {
        at = header.find(key, at + 1);
    }
    if (at == std::string::npos) {
        return {};
    }
    size_t start = at + key.size();
    if (start < header.size() && header[start] == '"') {
        const size_t end = header.find('"', start + 1);
        return header.substr(start + 1, end - start - 1);
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
    const std::string ha1 = http::Md5::hex(m_user + ":" + m_realm + ":" + m_password);
    const std::string ha2 = http::Md5::hex(method + ":" + uri);
    const std::string response =
        http::Md5::hex(ha1 + ":" + m_nonce + ":" + ncText + ":" + cnonce + ":auth:" + ha2);
    return "Digest username=\"" + m_user + "\", realm=\"" + m_realm + "\", nonce=\"" + m_nonce +
           "\", uri=\"" + uri + "\", algorithm=MD5, response=\"" + response + "\", opaque=\"" +
           m_opaque + "\", qop=auth, nc=" + ncText + ", cnonce=\"" + cnonce + "\"";
}

}  // namespace httptest
