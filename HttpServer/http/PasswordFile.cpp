#include "PasswordFile.h"

#include <civetweb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace http {

std::string PasswordFile::line(const std::string& user, const std::string& password) {
    char ha1[33];
    mg_md5(ha1, user.c_str(), ":", kRealm, ":", password.c_str(), nullptr);
    return user + ":" + kRealm + ":" + ha1;
}

bool PasswordFile::validUser(const std::string& user) {
    if (user.empty()) {
        return false;
    }
    for (const char c : user) {
        if (c == ':' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
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
    const std::string text = line(user, password);
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    const bool written = done == text.size() && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool PasswordFile::exists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

}  // namespace http
