#pragma once
// HTTP names (headers, form variables, media types) compare without regard to letter case.

#include <cctype>
#include <string_view>

namespace http {

/// Whether a and b are equal but for ASCII letter case.
inline bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace http
