#pragma once
// What the front end reads from a request's target and Host header, and how it writes a
// target back into a Location header: checks and conversions without the web server
// library, so they can be tested on their own.

#include <optional>
#include <string>
#include <string_view>

namespace http {

class RequestTarget {
public:
    virtual ~RequestTarget() = default;

    /// Whether the path of a raw request target (before '?') holds "%00" (any case) or a
    /// NUL byte.
    static bool pathHasNul(std::string_view rawTarget);

    /// The query of a raw target ("" without '?').
    static std::string_view query(std::string_view rawTarget);

    /// A decoded path made safe as a redirect target: percent-encoded, and starting with
    /// exactly one '/', so that "//host" cannot turn it into another site.
    static std::string localTarget(std::string_view path);

    /// A raw query made safe for a header: printable ASCII stays (the client encoded it
    /// already), anything else is percent-encoded.
    static std::string queryForHeader(std::string_view query);

    /// The host of a Host header value when it is a plain name, IPv4 address or bracketed
    /// IPv6 address (the port dropped); nothing otherwise.
    static std::optional<std::string> plainHost(const char* host);
};

}  // namespace http
