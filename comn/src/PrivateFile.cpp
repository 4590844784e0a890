#include "PrivateFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace comn {

bool writePrivateFile(const std::string& path, const std::string& text, std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error != nullptr) {
            *error = what + ": " + std::strerror(errno);
        }
        return false;
    };
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());  // mkstemp creates it 0600
    if (fd < 0) {
        return fail("cannot create " + temp);
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
        const int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        return fail("cannot write " + path);
    }
    return true;
}

}  // namespace comn
