#include "ProvisionLock.h"

#include <sys/stat.h>

#include <cstdio>

#include "DeviceSettings.h"
#include "board/Board.h"

namespace discover {

bool ProvisionLock::FileStamp::operator==(const FileStamp& o) const {
    return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
}

ProvisionLock::ProvisionLock(std::string boardPath) : m_boardPath(std::move(boardPath)) {}

ProvisionLock::FileStamp ProvisionLock::stamp() const {
    FileStamp s;
    struct stat st {};
    if (::stat(board::path(m_boardPath).c_str(), &st) == 0) {
        s.exists = true;
        s.device = st.st_dev;
        s.inode = st.st_ino;
        s.size = st.st_size;
        s.modified = st.st_mtim;
    }
    return s;
}

bool ProvisionLock::locked() {
    const FileStamp now = stamp();
    if (m_read && now == m_seen) {
        return m_locked;
    }
    DeviceSettings settings;
    const bool loaded = settings.load(m_boardPath);
    if (!loaded && now.exists) {
        return m_locked;  // unreadable for now: look again next time
    }
    m_seen = now;
    const bool locked = loaded && settings.provisionLock() != 0;
    if (!m_read || locked != m_locked) {
        std::printf("provisioning %s\n", locked ? "locked" : "unlocked");
    }
    m_read = true;
    m_locked = locked;
    return m_locked;
}

}  // namespace discover
