#include "OptionValue.h"

#include <cerrno>
#include <cstdlib>

bool parseOptionInteger(const std::string& text, int64_t& out) {
    if (text.empty() || text.size() > 20) {
        return false;
    }
    const size_t first = text[0] == '-' ? 1 : 0;
    if (first == text.size()) {
        return false;
    }
    for (size_t i = first; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0') {
        return false;
    }
    out = value;
    return true;
}
