#include "FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace comn {

FileLock::FileLock(const std::string& lockPath) {
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_error = lockPath + ": " + std::strerror(errno);
        return;
    }
    int rc;
    while ((rc = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        m_error = lockPath + ": flock: " + std::strerror(errno);
        ::close(fd);
        return;
    }
    m_fd = fd;
}

FileLock::~FileLock() {
    if (m_fd >= 0) {
        ::close(m_fd);  // releases the lock
    }
}

}  // namespace comn
