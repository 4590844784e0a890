#pragma once
// The password file's entry, read again only when the file changes: every request needs
// it, and a stat() costs less than open, read and close.

#include <sys/stat.h>

#include <optional>
#include <string>

#include "PasswordFile.h"

namespace http {

/// Not thread safe: one object belongs to the server's event loop.
class PasswordCache {
public:
    /// The entry of the file at path now: nothing when it is missing or unusable (then
    /// nothing may be served). The file is read again when its path, inode, size or
    /// modification time differ from the last reading.
    std::optional<PasswordFile::Entry> entry(const std::string& path);

private:
    std::string m_path;
    struct stat m_stat {};
    bool m_valid = false;
    std::optional<PasswordFile::Entry> m_entry;
};

}  // namespace http
