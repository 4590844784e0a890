#include "HttpOutPath.h"

#include <cctype>

namespace av {

bool normaliseOutputPath(const std::string& text, std::string& name) {
    std::string path = text.empty() || text[0] != '/' ? "/" + text : text;
    for (const char* suffix : {".m3u8", ".flv"}) {
        const std::string s = suffix;
        if (path.size() > s.size() && path.compare(path.size() - s.size(), s.size(), s) == 0) {
            path.resize(path.size() - s.size());
        }
    }
    if (path.size() < 2 || path.back() == '/' || path.size() > 128) {
        return false;
    }
    size_t start = 1;
    while (start <= path.size()) {
        const size_t end = path.find('/', start);
        const std::string part = path.substr(start, end == std::string::npos ? end : end - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        for (char c : part) {
            if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '-' && c != '_' &&
                c != '.') {
                return false;
            }
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    name = path;
    return true;
}

}  // namespace av
