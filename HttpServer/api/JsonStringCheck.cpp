#include "JsonStringCheck.h"

#include <cctype>

namespace enc {
namespace {

bool isControl(unsigned value) {
    return value < 0x20 || value == 0x7f;
}

// The value of four hexadecimal digits at text[pos], or a value above 0xFFFF when they are
// not all there (the parser refuses such a text anyway).
unsigned hex4(std::string_view text, size_t pos) {
    constexpr unsigned kInvalid = 0x10000;
    if (pos + 4 > text.size()) {
        return kInvalid;
    }
    unsigned value = 0;
    for (size_t i = pos; i < pos + 4; ++i) {
        const char c = text[i];
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return kInvalid;
        }
        value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return value;
}

}  // namespace

bool JsonStringCheck::hasControlCharacter(std::string_view text) {
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!inString) {
            inString = c == '"';
            continue;
        }
        if (c == '"') {
            inString = false;
        } else if (isControl(static_cast<unsigned char>(c))) {
            return true;
        } else if (c == '\\' && i + 1 < text.size()) {
            const char e = text[++i];
            switch (e) {
                case 'b':
                case 'f':
                case 'n':
                case 'r':
                case 't':
                    return true;
                case 'u':
                    if (isControl(hex4(text, i + 1))) {
                        return true;
                    }
                    i += 4;
                    break;
                default:
                    break;  // \" \\ \/ and anything the parser will refuse
            }
        }
    }
    return false;
}

}  // namespace enc
