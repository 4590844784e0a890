#pragma once
// The cross-site check of the device's control routes. A browser that holds the device's
// credentials sends them with any request a foreign page makes it send; the Origin (or
// Referer) header tells such requests apart.

namespace http {

class SameOrigin {
public:
    virtual ~SameOrigin() = default;

    /// Whether a request may go on, from its Host, Origin and Referer headers (null when
    /// absent): true without Origin and Referer (curl, management tools); otherwise true
    /// only when the host and port named by the Origin header, or failing that by the
    /// Referer header, are those of the Host header (port 80 is the default of both; host
    /// names are compared without regard to case). "Origin: null" is foreign.
    static bool allowed(const char* host, const char* origin, const char* referer);
};

}  // namespace http
