#include "FileStamp.h"

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

}  // namespace

void FileStamp::take(const std::string& path) {
    m_valid = false;
    timespec now{};
    if (::stat(path.c_str(), &m_stat) != 0 || ::clock_gettime(CLOCK_REALTIME, &now) != 0) {
        return;
    }
    if (recent(m_stat.st_mtim, now) || recent(m_stat.st_ctim, now)) {
        return;
    }
    m_path = path;
    m_valid = true;
}

bool FileStamp::unchanged(const std::string& path) const {
    if (!m_valid || path != m_path) {
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    return st.st_dev == m_stat.st_dev && st.st_ino == m_stat.st_ino &&
           st.st_size == m_stat.st_size && sameTime(st.st_mtim, m_stat.st_mtim) &&
           sameTime(st.st_ctim, m_stat.st_ctim);
}

}  // namespace comn
