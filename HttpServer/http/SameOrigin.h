#pragma once
// The cross-site check of the device's control routes. A browser that holds the device's
// credentials sends them with any request a foreign page makes it send; the Origin (or
// Referer) and Sec-Fetch-Site headers tell such requests apart.

#include <functional>
#include <string>

namespace http {

class SameOrigin {
public:
    virtual ~SameOrigin() = default;

    /// Where the request arrived: "http" or "https", and the port it was sent to.
    struct Self {
        std::string scheme;
        int port = 0;
        /// Whether a host (lower case; IPv6 literals in brackets) names this device.
        std::function<bool(const std::string& host)> isOwnHost;
    };

    /// Whether a request may go on, from its Origin and Referer headers (null when absent):
    /// true without either (curl, management tools); otherwise true only when the origin
    /// named by Origin, or failing that by Referer, has the request's scheme and port and a
    /// host that is one of the device's own. The Host header is not trusted (a rebound DNS
    /// name puts the attacker's name there). "Origin: null" is foreign.
    static bool allowed(const char* origin, const char* referer, const Self& self);

    /// Whether a Sec-Fetch-Site header allows the request: absent, "same-origin" or "none"
    /// (typed in, bookmarks).
    static bool fetchSiteAllowed(const char* secFetchSite);
};

}  // namespace http
