#include "LogPrefix.h"

#include <cstdio>
#include <ctime>

#include "CLog.h"

namespace comn {
namespace detail {
namespace {

std::tm localParts(const timeval& now) {
    std::tm parts{};
    const time_t seconds = now.tv_sec;
    ::localtime_r(&seconds, &parts);
    return parts;
}

}  // namespace

std::string dateTimePrefix(const timeval& now) {
    const std::tm t = localParts(now);
    char buf[128];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<int>(now.tv_usec / 1000));
    return buf;
}

std::string timePrefix(const timeval& now) {
    const std::tm t = localParts(now);
    char buf[128];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%d", t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<int>(now.tv_usec / 1000));
    return buf;
}

std::string currentPrefix(int formatFlags) {
    if ((formatFlags & (CLog::kDateTime | CLog::kTime)) == 0) {
        return {};
    }
    timeval now{};
    ::gettimeofday(&now, nullptr);
    return (formatFlags & CLog::kDateTime) != 0 ? dateTimePrefix(now) : timePrefix(now);
}

std::string formatLine(int level, const char* text, size_t length, int formatFlags) {
    const std::string prefix = currentPrefix(formatFlags);
    if (prefix.empty()) {
        return std::string(text, length);
    }
    std::string line = prefix;
    line += ' ';
    line += CLog::levelName(level);
    line += " | ";
    line.append(text, length);
    return line;
}

}  // namespace detail
}  // namespace comn
