#include "RequestTarget.h"

#include "DocumentPath.h"
#include "PercentEncode.h"

namespace http {

bool RequestTarget::pathHasNul(std::string_view rawTarget) {
    const std::string_view path = rawTarget.substr(0, rawTarget.find('?'));
    if (path.find('\0') != std::string_view::npos) {
        return true;
    }
    for (size_t i = path.find('%'); i != std::string_view::npos; i = path.find('%', i + 1)) {
        if (path.substr(i + 1, 2) == "00") {
            return true;
        }
    }
    return false;
}

std::string_view RequestTarget::query(std::string_view rawTarget) {
    const size_t q = rawTarget.find('?');
    return q == std::string_view::npos ? std::string_view() : rawTarget.substr(q + 1);
}

std::string RequestTarget::localTarget(std::string_view path) {
    const std::string out = DocumentPath::encode(path);
    const size_t first = out.find_first_not_of('/');
    return "/" + (first == std::string::npos ? std::string() : out.substr(first));
}

std::string RequestTarget::queryForHeader(std::string_view query) {
    return percentEncode(
        query, [](unsigned char u) { return u > 0x20 && u < 0x7f && u != '"' && u != '\\'; });
}

std::optional<std::string> RequestTarget::plainHost(const char* host) {
    if (host == nullptr || *host == '\0') {
        return std::nullopt;
    }
    std::string_view h(host);
    if (h.front() == '[') {
        const size_t close = h.find(']');
        if (close == std::string_view::npos ||
            h.substr(1, close - 1).find_first_not_of("0123456789abcdefABCDEF:.") !=
                std::string_view::npos) {
            return std::nullopt;
        }
        return std::string(h.substr(0, close + 1));
    }
    h = h.substr(0, h.find(':'));
    if (h.empty() || h.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                         "0123456789.-") != std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(h);
}

}  // namespace http
