#include "SameOrigin.h"

#include <cctype>
#include <cstdlib>
#include <string_view>

namespace http {

namespace {

std::string lower(std::string_view text) {
    std::string out;
    for (const char c : text) {
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

struct Origin {
    std::string scheme;
    std::string host;
    int port = 0;
};

// The scheme, host and port of an absolute URL ("http://host:port/path"); nothing usable
// for anything else, "null" included.
bool parseOrigin(std::string_view url, Origin& out) {
    const size_t sep = url.find("://");
    if (sep == std::string_view::npos) {
        return false;
    }
    out.scheme = lower(url.substr(0, sep));
    if (out.scheme != "http" && out.scheme != "https") {
        return false;
    }
    std::string_view authority = url.substr(sep + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (authority.find('@') != std::string_view::npos) {
        return false;  // user information: nothing a browser sends for a page of ours
    }
    std::string_view host = authority;
    std::string_view port;
    if (!authority.empty() && authority.front() == '[') {  // IPv6 literal
        const size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        host = authority.substr(0, close + 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':') {
                return false;
            }
            port = authority.substr(close + 2);
        }
    } else if (const size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty()) {
        return false;
    }
    out.host = lower(host);
    if (port.empty()) {
        out.port = out.scheme == "https" ? 443 : 80;
        return true;
    }
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    out.port = std::atoi(std::string(port).c_str());
    return true;
}

}  // namespace

bool SameOrigin::allowed(const char* origin, const char* referer, const Self& self) {
    const char* source = nullptr;
    if (origin != nullptr && *origin != '\0') {
        source = origin;
    } else if (referer != nullptr && *referer != '\0') {
        source = referer;
    } else {
        return true;
    }
    Origin o;
    return parseOrigin(source, o) && o.scheme == self.scheme && o.port == self.port &&
           self.isOwnHost && self.isOwnHost(o.host);
}

bool SameOrigin::fetchSiteAllowed(const char* secFetchSite) {
    if (secFetchSite == nullptr) {
        return true;
    }
    const std::string value = lower(secFetchSite);
    return value == "same-origin" || value == "none";
}

}  // namespace http
