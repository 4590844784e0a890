#pragma once
// Shape checks for MAC address texts in the tests (std::regex trips the sanitizer build's
// warnings, and these shapes are simple).

#include <string>

namespace peerlo_test {

/// "xx:xx:xx:xx:xx:xx" in lower-case hex.
inline bool isMacText(const std::string& s) {
    if (s.size() != 17) {
        return false;
    }
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        const bool ok = i % 3 == 2 ? c == ':' : (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        if (!ok) {
            return false;
        }
    }
    return true;
}

/// A random MAC of peerlo: 62:12:34:56 and two bytes that are character codes of
/// hexadecimal digits ("30"-"39", "41"-"46", "61"-"66").
inline bool isRandomMac(const std::string& s) {
    if (!isMacText(s) || s.compare(0, 12, "62:12:34:56:") != 0) {
        return false;
    }
    for (size_t at : {12u, 15u}) {
        const int code = std::stoi(s.substr(at, 2), nullptr, 16);
        const bool digit = (code >= '0' && code <= '9') || (code >= 'A' && code <= 'F') ||
                           (code >= 'a' && code <= 'f');
        if (!digit) {
            return false;
        }
    }
    return true;
}

}  // namespace peerlo_test
