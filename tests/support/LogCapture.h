#pragma once
// Collects the library's log lines for the scope (the caller-supplied sink of the logger).

#include <mutex>
#include <string>
#include <vector>

#include "CLog.h"

namespace sluicetest {

class LogCapture {
public:
    explicit LogCapture(int level = 0) {
        CLog::clearWriters();
        lines().clear();
        CLog::setFunctionWriter(&collect, level, 0);
    }
    ~LogCapture() { CLog::clearWriters(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> all() {
        std::lock_guard<std::mutex> lock(mutex());
        return lines();
    }
    /// Lines that begin with prefix.
    std::vector<std::string> starting(const std::string& prefix) {
        std::vector<std::string> found;
        for (const std::string& line : all()) {
            if (line.compare(0, prefix.size(), prefix) == 0) {
                found.push_back(line);
            }
        }
        return found;
    }
    size_t count(const std::string& line) {
        size_t n = 0;
        for (const std::string& l : all()) {
            n += l == line ? 1 : 0;
        }
        return n;
    }

private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::vector<std::string>& lines() {
        static std::vector<std::string> l;
        return l;
    }
    static void collect(int, const char* text, size_t length, int) {
        std::lock_guard<std::mutex> lock(mutex());
        lines().emplace_back(text, length);
    }
};

}  // namespace sluicetest
