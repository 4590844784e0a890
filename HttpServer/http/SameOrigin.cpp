#include "SameOrigin.h"

#include <cctype>
#include <string>
#include <string_view>

namespace http {

namespace {

// "host:port" in lower case, with the scheme's default port filled in; "" when unusable.
std::string normalise(std::string_view authority, std::string_view defaultPort) {
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        authority.remove_prefix(at + 1);  // user information is not part of the host
    }
    std::string_view host = authority;
    std::string_view port;
    if (!authority.empty() && authority.front() == '[') {  // IPv6 literal
        const size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return {};
        }
        host = authority.substr(0, close + 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':') {
                return {};
            }
            port = authority.substr(close + 2);
        }
    } else if (const size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty()) {
        return {};
    }
    std::string result;
    for (const char c : host) {
        result += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    result += ':';
    result += port.empty() ? defaultPort : port;
    return result;
}

// The normalised authority of an absolute URL ("http://host:port/path"); "" for anything
// else, "null" included.
std::string authorityOf(std::string_view url) {
    const size_t sep = url.find("://");
    if (sep == std::string_view::npos) {
        return {};
    }
    std::string scheme;
    for (const char c : url.substr(0, sep)) {
        scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::string_view rest = url.substr(sep + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    return normalise(rest, scheme == "https" ? "443" : "80");
}

}  // namespace

bool SameOrigin::allowed(const char* host, const char* origin, const char* referer) {
    const char* source = nullptr;
    if (origin != nullptr && *origin != '\0') {
        source = origin;
    } else if (referer != nullptr && *referer != '\0') {
        source = referer;
    } else {
        return true;
    }
    if (host == nullptr) {
        return false;
    }
    const std::string self = normalise(host, "80");
    return !self.empty() && authorityOf(source) == self;
}

}  // namespace http
