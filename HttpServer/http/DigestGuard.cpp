#include "DigestGuard.h"

#include <gnutls/crypto.h>
#include <microhttpd.h>

#include <cstdio>
#include <optional>

#include "DigestAuthorization.h"
#include "DigestNonces.h"
#include "LoginThrottle.h"
#include "MhdReply.h"
#include "PasswordCache.h"

namespace http {

namespace {

using Clock = std::chrono::steady_clock;

std::string randomHex(size_t bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string raw(bytes, '\0');
    gnutls_rnd(GNUTLS_RND_NONCE, raw.data(), raw.size());
    std::string out;
    for (const char c : raw) {
        out += kHex[static_cast<unsigned char>(c) >> 4];
        out += kHex[static_cast<unsigned char>(c) & 0xf];
    }
    return out;
}

}  // namespace

DigestGuard::DigestGuard(std::chrono::seconds nonceLifetime)
    : m_passwords(std::make_unique<PasswordCache>()),
      m_nonces(std::make_unique<DigestNonces>(nonceLifetime)),
      m_throttle(std::make_unique<LoginThrottle>()),
      m_opaque(randomHex(16)) {}

DigestGuard::~DigestGuard() = default;

bool DigestGuard::lockedOut(MHD_Connection* conn, const std::string& client) {
    const int left = m_throttle->lockedFor(client, Clock::now());
    if (left <= 0) {
        return false;
    }
    const std::string retry = std::to_string(left);
    MhdReply::text(conn, MHD_HTTP_TOO_MANY_REQUESTS, "Too many failed logins; try later.\n", true,
                   MHD_HTTP_HEADER_RETRY_AFTER, retry.c_str());
    return true;
}

void DigestGuard::challenge(MHD_Connection* conn, bool stale) {
    MhdReply::challenge(conn, PasswordFile::kRealm, m_nonces->issue(Clock::now()), m_opaque, stale);
}

bool DigestGuard::admit(MHD_Connection* conn, const std::string& authFile, const char* method,
                        const std::string& rawTarget, const std::string& client) {
    if (authFile.empty()) {
        return true;  // turned off by the program (tests, tools)
    }
    const std::optional<PasswordFile::Entry> entry = m_passwords->entry(authFile);
    if (!entry) {
        if (!m_unreadableReported) {
            std::printf(
                "web server: the password file %s cannot be read; every request is "
                "refused until it is back\n",
                authFile.c_str());
            m_unreadableReported = true;
        }
        challenge(conn, false);
        return false;
    }
    m_unreadableReported = false;
    const char* authorization =
        MHD_lookup_connection_value(conn, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
    if (authorization == nullptr) {
        challenge(conn, false);
        return false;
    }
    // A wrong user or password is a failed login; everything else about a header with the
    // right password (an old nonce, one of another server instance, a count seen before,
    // another URI) only gets a fresh nonce: a client retries with it, a replayed header
    // cannot be signed again without the password.
    const std::optional<DigestAuthorization> digest = DigestAuthorization::parse(authorization);
    const bool rightPassword = digest && digest->username == entry->user &&
                               digest->realm == PasswordFile::kRealm &&
                               digest->responseMatches(entry->ha1, method);
    if (!rightPassword) {
        countFailure(client);
        challenge(conn, false);
        return false;
    }
    if (digest->qop != "auth" || digest->uri != rawTarget ||
        m_nonces->use(digest->nonce, digest->nc, Clock::now()) != DigestNonces::Use::Fresh) {
        challenge(conn, true);
        return false;
    }
    return true;
}

void DigestGuard::countFailure(const std::string& client) {
    ++m_failures;
    if (m_throttle->fail(client, Clock::now())) {
        std::printf("web server: %d failed logins from %s within %lld s; refusing it for %lld s\n",
                    LoginThrottle::kMaxFailures, client.c_str(),
                    static_cast<long long>(LoginThrottle::kWindow.count()),
                    static_cast<long long>(LoginThrottle::kLockout.count()));
    }
}

}  // namespace http
