#include "DocumentPath.h"

#include <sys/stat.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <memory>

#include "PercentEncode.h"

namespace http {

namespace {

// The real path of an existing file, or "" when it does not exist.
std::string realPath(const std::string& path) {
    std::unique_ptr<char, void (*)(void*)> real(::realpath(path.c_str(), nullptr), std::free);
    return real ? std::string(real.get()) : std::string();
}

bool isUnder(const std::string& real, const std::string& root) {
    if (root == "/") {
        return true;
    }
    return real == root || (real.size() > root.size() && real.compare(0, root.size(), root) == 0 &&
                            real[root.size()] == '/');
}

}  // namespace

bool DocumentPath::climbs(std::string_view requestPath) {
    if (requestPath.find('\0') != std::string_view::npos) {
        return true;
    }
    size_t start = 0;
    while (start <= requestPath.size()) {
        size_t end = requestPath.find('/', start);
        if (end == std::string_view::npos) {
            end = requestPath.size();
        }
        if (requestPath.substr(start, end - start) == "..") {
            return true;
        }
        start = end + 1;
    }
    return false;
}

DocumentPath::Result DocumentPath::resolve(const std::string& root, std::string_view requestPath,
                                           std::string& file) {
    if (climbs(requestPath)) {
        return Result::Forbidden;
    }
    const std::string realRoot = realPath(root);
    if (realRoot.empty()) {
        return Result::NotFound;
    }
    std::string real = realPath(realRoot + "/" + std::string(requestPath));
    if (real.empty()) {
        return Result::NotFound;
    }
    if (!isUnder(real, realRoot)) {
        return Result::Forbidden;
    }
    struct stat st {};
    if (::stat(real.c_str(), &st) != 0) {
        return Result::NotFound;
    }
    if (S_ISDIR(st.st_mode)) {
        if (requestPath.empty() || requestPath.back() != '/') {
            return Result::NeedsSlash;  // so that the page's relative links work
        }
        real = realPath(real + "/index.html");
        if (real.empty()) {
            return Result::NotFound;
        }
        if (!isUnder(real, realRoot)) {
            return Result::Forbidden;
        }
        if (::stat(real.c_str(), &st) != 0) {
            return Result::NotFound;
        }
    }
    if (!S_ISREG(st.st_mode)) {
        return Result::NotFound;
    }
    file = std::move(real);
    return Result::Found;
}

std::string DocumentPath::encode(std::string_view path) {
    return percentEncode(path, [](unsigned char u) {
        return std::isalnum(u) != 0 || u == '/' || u == '-' || u == '.' || u == '_' || u == '~';
    });
}

}  // namespace http
