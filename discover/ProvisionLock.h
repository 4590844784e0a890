#pragma once

#include <sys/types.h>

#include <ctime>
#include <string>

namespace discover {

/// The provisioning lock: key provisionLock of section [security] in the settings file,
/// which the web pages set. peerlo reads it at start and again whenever the file changes
/// (another inode, size or modification time; the web server replaces the file whole), so a
/// lock takes effect without a restart. Any value other than 0 locks; a missing file or key
/// is unlocked (the default, so existing tools keep working). A file that exists but cannot
/// be read leaves the state as it was.
/// Not thread-safe (peerlo has one thread).
class ProvisionLock {
public:
    /// boardPath: the settings file's board path (board::path() applies).
    explicit ProvisionLock(std::string boardPath);

    /// Rereads the file when it changed since the last look; then the state.
    bool locked();

private:
    struct FileStamp {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        bool operator==(const FileStamp& o) const;
    };
    FileStamp stamp() const;

    std::string m_boardPath;
    FileStamp m_seen;
    bool m_read = false;
    bool m_locked = false;
};

}  // namespace discover
