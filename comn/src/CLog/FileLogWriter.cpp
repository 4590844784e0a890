#include "FileLogWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "LogPrefix.h"

namespace comn {
namespace detail {
namespace {

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeDirectory(const std::string& path) {
    return path.empty() || ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

}  // namespace

FileLogWriter::FileLogWriter(const std::string& path, uint64_t maxSize, int rollCount)
    : m_path(path),
      m_maxSize(maxSize == 0 ? kDefaultMaxSize : maxSize),
      m_rollCount(rollCount < 1 ? kDefaultRollCount : rollCount) {
    ensureDirectory(m_path);
    open();
}

FileLogWriter::~FileLogWriter() {
    close();
}

bool FileLogWriter::open() {
    if (m_file != nullptr) {
        return true;
    }
    m_file = std::fopen(m_path.c_str(), "a+");
    if (m_file == nullptr) {
        return false;
    }
    std::fseek(m_file, 0, SEEK_END);
    const long position = std::ftell(m_file);
    m_size = position < 0 ? 0 : static_cast<uint64_t>(position);
    return true;
}

void FileLogWriter::close() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

void FileLogWriter::write(int level, const char* text, size_t length, int formatFlags) {
    if (!open()) {
        return;
    }
    const std::string line = formatLine(level, text, length, formatFlags);
    const size_t written = std::fwrite(line.data(), 1, line.size(), m_file);
    std::fflush(m_file);
    m_size += written;
    if (m_size >= m_maxSize) {
        close();
        rollOver();
    }
}

void FileLogWriter::rollOver() {
    // Failures are ignored: a missing older file is simply not there to move.
    const std::string base = m_path + ".";
    std::remove((base + std::to_string(m_rollCount)).c_str());
    for (int i = m_rollCount - 1; i >= 1; --i) {
        std::rename((base + std::to_string(i)).c_str(), (base + std::to_string(i + 1)).c_str());
    }
    std::rename(m_path.c_str(), (base + "1").c_str());
    m_size = 0;
}

void FileLogWriter::setPath(const std::string& path) {
    close();
    m_path = path;
    ensureDirectory(m_path);
    open();
}

void FileLogWriter::setMaxSize(uint64_t bytes) {
    if (bytes != 0) {
        m_maxSize = bytes;
    }
}

void FileLogWriter::setRollCount(int count) {
    if (count >= 1) {
        m_rollCount = count;
    }
}

void FileLogWriter::ensureDirectory(const std::string& path) {
    const size_t last = path.find_last_of("/\\");
    if (last == std::string::npos) {
        return;
    }
    const std::string directory = path.substr(0, last);
    if (directory.empty() || isDirectory(directory)) {
        return;
    }
    for (size_t i = 1; i < directory.size(); ++i) {
        if (isSeparator(directory[i]) && !makeDirectory(directory.substr(0, i))) {
            return;
        }
    }
    makeDirectory(directory);
}

}  // namespace detail
}  // namespace comn
