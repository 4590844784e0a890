#include "PasswordCache.h"

namespace http {

std::optional<PasswordFile::Entry> PasswordCache::entry(const std::string& path) {
    if (!m_stamp.unchanged(path)) {
        // Noted before the reading, so that a change during it shows next time.
        m_stamp.take(path);
        m_entry = PasswordFile::read(path);
    }
    return m_entry;
}

}  // namespace http
