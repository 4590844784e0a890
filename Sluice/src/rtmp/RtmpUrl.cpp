#include "RtmpUrl.h"

#include <strings.h>

namespace av {

bool RtmpUrl::parse(const std::string& text) {
    static const char kPlain[] = "rtmp://";
    static const char kSecure[] = "rtmps://";
    size_t schemeLength = 0;
    bool secure = false;
    if (strncasecmp(text.c_str(), kPlain, sizeof(kPlain) - 1) == 0) {
        schemeLength = sizeof(kPlain) - 1;
    } else if (strncasecmp(text.c_str(), kSecure, sizeof(kSecure) - 1) == 0) {
        schemeLength = sizeof(kSecure) - 1;
        secure = true;
    } else {
        return false;
    }
    for (const char c : text) {
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) {
            return false;
        }
    }
    const size_t slash = text.find('/', schemeLength);
    if (slash == std::string::npos || slash + 1 >= text.size()) {
        return false;  // FFmpeg needs at least the application name
    }
    const size_t at = text.rfind('@', slash);
    const size_t hostBegin = at == std::string::npos || at < schemeLength ? schemeLength : at + 1;
    if (hostBegin >= slash || text[hostBegin] == ':') {
        return false;
    }
    m_full = text;
    m_shown = stripUserInfo(text);
    m_secure = secure;
    return true;
}

std::string RtmpUrl::stripUserInfo(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t scheme = text.find("://", pos);
        if (scheme == std::string::npos) {
            break;
        }
        const size_t authority = scheme + 3;
        // The authority ends at the first '/', space or quote; user information is all of it
        // up to its last '@'.
        const size_t end = text.find_first_of("/ \t\r\n\"'", authority);
        const size_t limit = end == std::string::npos ? text.size() : end;
        const size_t at = text.rfind('@', limit == 0 ? 0 : limit - 1);
        out.append(text, pos, authority - pos);
        pos = at != std::string::npos && at >= authority && at < limit ? at + 1 : authority;
    }
    out.append(text, pos, std::string::npos);
    return out;
}

}  // namespace av
