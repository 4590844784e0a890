#pragma once
// The password file's entry, read again only when the file changes: every request needs
// it, and a stat() costs less than open, read and close.

#include <optional>
#include <string>

#include "FileStamp.h"
#include "PasswordFile.h"

namespace http {

/// Not thread safe: one object belongs to the server's event loop.
class PasswordCache {
public:
    /// The entry of the file at path now: nothing when it is missing or unusable (then
    /// nothing may be served). The file is read again whenever comn::FileStamp does not
    /// vouch for it (another path, inode, size or time, or changed within the last second).
    std::optional<PasswordFile::Entry> entry(const std::string& path);

private:
    comn::FileStamp m_stamp;
    std::optional<PasswordFile::Entry> m_entry;
};

}  // namespace http
