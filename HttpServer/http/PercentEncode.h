#pragma once
// Percent-encoding (RFC 3986) with a caller's set of bytes that stay as they are.

#include <string>
#include <string_view>

namespace http {

/// text with every byte for which keep(byte) is false written as %XX (upper-case hex).
template <class Keep>
std::string percentEncode(std::string_view text, Keep keep) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (keep(u)) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0xf];
        }
    }
    return out;
}

}  // namespace http
