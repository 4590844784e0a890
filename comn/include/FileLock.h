#pragma once

#include <string>

namespace comn {

/// An exclusive advisory lock (flock) on a lock file, held from construction to
/// destruction. Writers of a shared file that each take the same lock file never interleave
/// their read-change-write turns. The lock file is created (mode 0600, empty) when missing
/// and never removed: removing it would let two writers lock two different files.
///
/// Blocks until the lock is granted. Not copyable; one object per turn, on one thread.
class FileLock {
public:
    explicit FileLock(const std::string& lockPath);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    /// Whether the lock is held; when not, error() says why (open or flock failed).
    bool held() const { return m_fd >= 0; }
    const std::string& error() const { return m_error; }

private:
    int m_fd = -1;
    std::string m_error;
};

}  // namespace comn
