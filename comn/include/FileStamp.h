#pragma once
// Whether a file is still the one read last time: a stat() costs less than reading and
// parsing it again, for files asked for on every request.

#include <sys/stat.h>

#include <string>

namespace comn {

/// The identity and times of a file at a reading, or its absence. Not thread safe.
class FileStamp {
public:
    /// Notes the file at path as it is now, or that there is none; call it just before
    /// reading the file. A file changed less than kSettleSeconds ago is not noted
    /// (unchanged() stays false until a later take()): a second write within the same
    /// timestamp tick would keep its times.
    void take(const std::string& path);
    /// Forgets the noted file: the next unchanged() is false.
    void clear() { m_valid = false; }
    /// True when path names the noted file and its device, inode, size, modification and
    /// status-change times are still those noted (any write, rename over it or chmod
    /// changes one of them), or when it was noted missing and still is.
    bool unchanged(const std::string& path) const;
    /// Whether the noted file was missing.
    bool absent() const { return m_valid && m_absent; }

    static constexpr long kSettleSeconds = 1;

private:
    std::string m_path;
    struct stat m_stat {};
    bool m_absent = false;
    bool m_valid = false;
};

}  // namespace comn
