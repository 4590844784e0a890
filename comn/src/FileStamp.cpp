#include "FileStamp.h"

#include <cerrno>
#include <ctime>

namespace comn {

namespace {

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether t lies within the settle time before now (or after it: a clock set back).
bool recent(const timespec& t, const timespec& now) {
    return t.tv_sec >= now.tv_sec - FileStamp::kSettleSeconds;
}

bool missing(int error) {
    return error == ENOENT || error == ENOTDIR;
}

}  // namespace

void FileStamp::take(const std::string& path) {
    m_valid = false;
    m_path = path;
    if (::stat(path.c_str(), &m_stat) != 0) {
        m_absent = missing(errno);
        m_valid = m_absent;
        return;
    }
    m_absent = false;
    timespec now{};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0 || recent(m_stat.st_mtim, now) ||
        recent(m_stat.st_ctim, now)) {
        return;
    }
    m_valid = true;
}

bool FileStamp::unchanged(const std::string& path) const {
    if (!m_valid || path != m_path) {
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return m_absent && missing(errno);
    }
    return !m_absent && st.st_dev == m_stat.st_dev && st.st_ino == m_stat.st_ino &&
           st.st_size == m_stat.st_size && sameTime(st.st_mtim, m_stat.st_mtim) &&
           sameTime(st.st_ctim, m_stat.st_ctim);
}

}  // namespace comn
