#include "DigestNonces.h"

#include <gnutls/crypto.h>

#include <cctype>
#include <cstdio>

namespace http {

namespace {

constexpr size_t kKeyBytes = 32;
constexpr size_t kRandomBytes = 8;
constexpr size_t kTimeDigits = 16;
constexpr size_t kSignatureDigits = 32;  // 128 bits of HMAC-SHA256
constexpr size_t kNonceDigits = kTimeDigits + 2 * kRandomBytes + kSignatureDigits;
constexpr size_t kMaxNcDigits = 16;

std::string hex(const unsigned char* data, size_t size) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += kHex[data[i] >> 4];
        out += kHex[data[i] & 0xf];
    }
    return out;
}

bool parseHex(const std::string& text, size_t maxDigits, uint64_t& value) {
    if (text.empty() || text.size() > maxDigits) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isxdigit(u) == 0) {
            return false;
        }
        const int digit = std::isdigit(u) != 0 ? c - '0' : std::tolower(u) - 'a' + 10;
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    return true;
}

}  // namespace

DigestNonces::DigestNonces(std::chrono::seconds lifetime)
    : m_lifetime(lifetime), m_key(kKeyBytes, '\0'), m_epoch(Clock::now()) {
    gnutls_rnd(GNUTLS_RND_KEY, m_key.data(), m_key.size());
}

std::string DigestNonces::signature(const std::string& body) const {
    unsigned char mac[32];
    gnutls_hmac_fast(GNUTLS_MAC_SHA256, m_key.data(), m_key.size(), body.data(), body.size(), mac);
    return hex(mac, kSignatureDigits / 2);
}

std::string DigestNonces::issue(Clock::time_point now) {
    const auto ms = static_cast<unsigned long long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now - m_epoch).count());
    char time[kTimeDigits + 1];
    std::snprintf(time, sizeof time, "%016llx", ms);
    unsigned char random[kRandomBytes];
    gnutls_rnd(GNUTLS_RND_NONCE, random, sizeof random);
    const std::string body = time + hex(random, sizeof random);
    return body + signature(body);
}

bool DigestNonces::signedByUs(const std::string& nonce, uint64_t& issuedMs) const {
    if (nonce.size() != kNonceDigits) {
        return false;
    }
    const std::string body = nonce.substr(0, kNonceDigits - kSignatureDigits);
    // Compared in full whatever differs, so the time taken tells nothing.
    const std::string expected = signature(body);
    unsigned char diff = 0;
    for (size_t i = 0; i < kSignatureDigits; ++i) {
        diff |= static_cast<unsigned char>(expected[i] ^ nonce[body.size() + i]);
    }
    return diff == 0 && parseHex(nonce.substr(0, kTimeDigits), kTimeDigits, issuedMs);
}

DigestNonces::Use DigestNonces::use(const std::string& nonce, const std::string& ncHex,
                                    Clock::time_point now) {
    uint64_t issuedMs = 0;
    if (!signedByUs(nonce, issuedMs) || issuedMs < m_floorMs) {
        return Use::Stale;
    }
    const auto nowMs = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now - m_epoch).count());
    const auto lifetimeMs = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(m_lifetime).count());
    if (issuedMs > nowMs || nowMs - issuedMs > lifetimeMs) {
        return Use::Stale;
    }
    uint64_t nc = 0;
    if (!parseHex(ncHex, kMaxNcDigits, nc) || nc == 0) {
        return Use::Replayed;
    }
    auto it = m_highest.find(nonce);
    if (it == m_highest.end()) {
        if (m_highest.size() >= kMaxTracked) {
            // Expired nonces first; if none, the oldest, and with it every older one.
            for (auto e = m_highest.begin(); e != m_highest.end();) {
                uint64_t t = 0;
                parseHex(e->first.substr(0, kTimeDigits), kTimeDigits, t);
                e = nowMs - t > lifetimeMs ? m_highest.erase(e) : std::next(e);
            }
            if (m_highest.size() >= kMaxTracked) {
                // Keys start with the issue time in fixed-width hex: the first is the oldest.
                uint64_t oldest = 0;
                parseHex(m_highest.begin()->first.substr(0, kTimeDigits), kTimeDigits, oldest);
                m_floorMs = oldest + 1;
                m_highest.erase(m_highest.begin());
                if (issuedMs < m_floorMs) {
                    return Use::Stale;
                }
            }
        }
        it = m_highest.emplace(nonce, 0).first;
    }
    if (nc <= it->second) {
        return Use::Replayed;
    }
    it->second = nc;
    return Use::Fresh;
}

}  // namespace http
