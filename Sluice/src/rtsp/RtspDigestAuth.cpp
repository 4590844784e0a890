#include "RtspDigestAuth.h"

extern "C" {
#include <libavutil/md5.h>
}

#include <strings.h>
#include <sys/random.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace av {

namespace {

std::string hex(const uint8_t* bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// Compares without stopping at the first difference, so the time taken tells nothing.
bool sameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char difference = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return difference == 0;
}

std::string randomHex(size_t bytes) {
    uint8_t buffer[32] = {};
    if (bytes > sizeof buffer) {
        bytes = sizeof buffer;
    }
    size_t got = 0;
    while (got < bytes) {
        const ssize_t n = getrandom(buffer + got, bytes - got, 0);
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    return hex(buffer, bytes);
}

}  // namespace

std::string RtspDigestAuth::md5Hex(const std::string& text) {
    uint8_t digest[16];
    av_md5_sum(digest, reinterpret_cast<const uint8_t*>(text.data()),
               static_cast<int>(text.size()));
    return hex(digest, sizeof digest);
}

bool RtspDigestAuth::load(const std::string& path) {
    std::ifstream file(path);
    std::map<std::string, std::string> entries;
    std::string realm;
    std::string line;
    while (file && std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const size_t first = line.find(':');
        const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos || first == 0) {
            continue;
        }
        const std::string user = line.substr(0, first);
        const std::string lineRealm = line.substr(first + 1, second - first - 1);
        const std::string ha1 = line.substr(second + 1);
        if (ha1.size() != 32 || lineRealm.find('"') != std::string::npos) {
            continue;
        }
        if (realm.empty()) {
            realm = lineRealm;
        }
        if (lineRealm == realm) {
            entries[user] = ha1;
        }
    }
    m_realm = realm;
    m_ha1 = std::move(entries);
    return !m_ha1.empty();
}

bool RtspDigestAuth::parseHeader(const std::string& header,
                                 std::map<std::string, std::string>& out) {
    if (header.size() < 7 || strncasecmp(header.c_str(), "Digest", 6) != 0 ||
        (header[6] != ' ' && header[6] != '\t')) {
        return false;
    }
    out.clear();
    size_t i = 7;
    const size_t n = header.size();
    while (i < n) {
        while (i < n && (header[i] == ' ' || header[i] == '\t' || header[i] == ',')) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        const size_t nameStart = i;
        while (i < n && header[i] != '=' && header[i] != ',' && header[i] != ' ') {
            ++i;
        }
        if (i >= n || header[i] != '=' || i == nameStart) {
            return false;
        }
        std::string name = header.substr(nameStart, i - nameStart);
        for (char& c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        ++i;
        std::string value;
        if (i < n && header[i] == '"') {
            ++i;
            while (i < n && header[i] != '"') {
                if (header[i] == '\\' && i + 1 < n) {
                    ++i;
                }
                value += header[i++];
            }
            if (i >= n) {
                return false;  // unterminated quote
            }
            ++i;
        } else {
            const size_t valueStart = i;
            while (i < n && header[i] != ',' && header[i] != ' ' && header[i] != '\t') {
                ++i;
            }
            value = header.substr(valueStart, i - valueStart);
        }
        if (out.count(name) != 0) {
            return false;  // a repeated parameter is not honest
        }
        out[name] = value;
    }
    return true;
}

std::string RtspDigestAuth::challenge(Nonce& nonce, int64_t nowMs, bool stale) const {
    nonce.value = randomHex(16);
    nonce.issuedMs = nowMs;
    nonce.lastCount = 0;
    std::string text = "Digest realm=\"" + m_realm + "\", nonce=\"" + nonce.value +
                       "\", algorithm=MD5, qop=\"auth\"";
    if (stale) {
        text += ", stale=TRUE";
    }
    return text;
}

RtspDigestAuth::Result RtspDigestAuth::check(const std::string& method, const std::string& uri,
                                             const std::string& authorization, Nonce& nonce,
                                             int64_t nowMs) const {
    if (authorization.empty()) {
        return Result::Missing;
    }
    std::map<std::string, std::string> p;
    if (!parseHeader(authorization, p) || m_ha1.empty()) {
        return Result::Refused;
    }
    const auto user = m_ha1.find(p["username"]);
    if (user == m_ha1.end() || p["realm"] != m_realm || p["uri"] != uri ||
        (!p["algorithm"].empty() && strcasecmp(p["algorithm"].c_str(), "MD5") != 0)) {
        return Result::Refused;
    }
    // A nonce that was never issued on this connection is a replay from elsewhere.
    if (nonce.value.empty() || !sameText(p["nonce"], nonce.value)) {
        return Result::Refused;
    }
    const std::string ha2 = md5Hex(method + ":" + uri);
    std::string expected;
    uint32_t count = 0;
    const std::string& qop = p["qop"];
    if (qop.empty()) {
        expected = md5Hex(user->second + ":" + nonce.value + ":" + ha2);
    } else if (qop == "auth") {
        const std::string& nc = p["nc"];
        if (nc.size() != 8 || nc.find_first_not_of("0123456789abcdefABCDEF") != nc.npos ||
            p["cnonce"].empty()) {
            return Result::Refused;
        }
        count = static_cast<uint32_t>(std::strtoul(nc.c_str(), nullptr, 16));
        expected = md5Hex(user->second + ":" + nonce.value + ":" + nc + ":" + p["cnonce"] + ":" +
                          qop + ":" + ha2);
    } else {
        return Result::Refused;
    }
    if (!sameText(p["response"], expected)) {
        return Result::Refused;
    }
    if (nowMs - nonce.issuedMs > kNonceLifetimeMs) {
        return Result::Stale;  // right credentials, old nonce: challenge again
    }
    if (!qop.empty()) {
        if (count <= nonce.lastCount) {
            return Result::Refused;  // a request seen before
        }
        nonce.lastCount = count;
    }
    return Result::Ok;
}

}  // namespace av
