#include "PasswordCache.h"

namespace http {

std::optional<PasswordFile::Entry> PasswordCache::entry(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        m_valid = false;
        return std::nullopt;
    }
    const bool same = m_valid && path == m_path && st.st_ino == m_stat.st_ino &&
                      st.st_dev == m_stat.st_dev && st.st_size == m_stat.st_size &&
                      st.st_mtim.tv_sec == m_stat.st_mtim.tv_sec &&
                      st.st_mtim.tv_nsec == m_stat.st_mtim.tv_nsec;
    if (!same) {
        m_entry = PasswordFile::read(path);
        m_path = path;
        m_stat = st;
        m_valid = true;
    }
    return m_entry;
}

}  // namespace http
