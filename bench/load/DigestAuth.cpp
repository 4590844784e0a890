#include "DigestAuth.h"

#include <civetweb.h>

#include <cstdio>
#include <cstring>

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
    char ha1[33];
    char ha2[33];
    char response[33];
    mg_md5(ha1, m_user.c_str(), ":", m_realm.c_str(), ":", m_password.c_str(), nullptr);
    mg_md5(ha2, method.c_str(), ":", uri.c_str(), nullptr);
    char count[9];
    std::snprintf(count, sizeof count, "%08x", ++m_count);
    const std::string cnonce = "b3nch" + std::to_string(m_count);
    if (m_qopAuth) {
        mg_md5(response, ha1, ":", m_nonce.c_str(), ":", count, ":", cnonce.c_str(), ":auth:", ha2,
               nullptr);
    } else {
        mg_md5(response, ha1, ":", m_nonce.c_str(), ":", ha2, nullptr);
    }
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
