#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "CLog.h"

namespace comn {
namespace detail {

/// The rolling file sink. The file stays open between messages; when it reaches the
/// maximum size it is closed and rolled over (path.N deleted, path.i renamed to path.i+1,
/// path to path.1), and the next message starts a new file under the path. Missing
/// directories of the path are created with mode 0700. A file that cannot be opened drops
/// the message; the next message tries again.
class FileLogWriter : public CLog::Writer {
public:
    static constexpr uint64_t kDefaultMaxSize = 10485760;  // 10 MiB
    static constexpr int kDefaultRollCount = 2;

    explicit FileLogWriter(const std::string& path, uint64_t maxSize = kDefaultMaxSize,
                           int rollCount = kDefaultRollCount);
    ~FileLogWriter() override;
    FileLogWriter(const FileLogWriter&) = delete;
    FileLogWriter& operator=(const FileLogWriter&) = delete;

    void write(int level, const char* text, size_t length, int formatFlags) override;

    /// Closes the current file, ensures the new path's directory and opens it.
    void setPath(const std::string& path);
    /// 0 keeps the current value.
    void setMaxSize(uint64_t bytes);
    /// Values below 1 keep the current value.
    void setRollCount(int count);

    const std::string& path() const { return m_path; }
    uint64_t maxSize() const { return m_maxSize; }
    int rollCount() const { return m_rollCount; }
    uint64_t currentSize() const { return m_size; }

    /// Creates the missing directories of a file path with mode 0700; stops at the first
    /// creation that fails.
    static void ensureDirectory(const std::string& path);

private:
    bool open();
    void close();
    void rollOver();

    std::string m_path;
    uint64_t m_maxSize;
    int m_rollCount;
    std::FILE* m_file = nullptr;
    uint64_t m_size = 0;
};

}  // namespace detail
}  // namespace comn
