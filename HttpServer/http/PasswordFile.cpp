#include "PasswordFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "Md5.h"
#include "PrivateFile.h"

namespace http {

namespace {

constexpr size_t kMaxUser = 32;
constexpr size_t kMinPassword = 6;
constexpr size_t kMaxPassword = 64;
// A line longer than any valid one is not read further.
constexpr size_t kMaxLine = 512;

bool isHex(const std::string& text) {
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string PasswordFile::line(const std::string& user, const std::string& password) {
    return user + ":" + kRealm + ":" + Md5::hex(user + ":" + kRealm + ":" + password);
}

bool PasswordFile::validUser(const std::string& user) {
    if (user.empty() || user.size() > kMaxUser) {
        return false;
    }
    for (const char c : user) {
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' ||
                           c == '_' || c == '.' || c == '@';
        if (!plain) {
            return false;
        }
    }
    return true;
}

bool PasswordFile::validPassword(const std::string& password) {
    if (password.size() < kMinPassword || password.size() > kMaxPassword) {
        return false;
    }
    for (const char c : password) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7e || c == ':' || c == '\\') {
            return false;
        }
    }
    return true;
}

bool PasswordFile::write(const std::string& path, const std::string& user,
                         const std::string& password) {
    if (path.empty()) {
        return false;
    }
    // 0600: the HA1 is as good as the password.
    return comn::writePrivateFile(path, line(user, password));
}

std::optional<PasswordFile::Entry> PasswordFile::read(const std::string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text(kMaxLine, '\0');
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    text.resize(got);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();  // a line end added by hand is harmless
    }
    const size_t first = text.find(':');
    const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos || text.compare(first + 1, second - first - 1, kRealm) != 0) {
        return std::nullopt;
    }
    Entry entry{text.substr(0, first), text.substr(second + 1)};
    if (entry.user.empty() || entry.ha1.size() != 32 || !isHex(entry.ha1)) {
        return std::nullopt;
    }
    for (char& c : entry.ha1) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return entry;
}

bool PasswordFile::exists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

}  // namespace http
