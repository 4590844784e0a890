#pragma once
// Line prefixes of the logger's sinks.

#include <sys/time.h>

#include <string>

namespace comn {
namespace detail {

/// "%04d-%02d-%02d %02d:%02d:%02d.%d" in local time; the milliseconds are not padded.
std::string dateTimePrefix(const timeval& now);
/// "%02d:%02d:%02d.%d" in local time.
std::string timePrefix(const timeval& now);
/// The prefix for the format flags at the current time; empty without a prefix flag.
std::string currentPrefix(int formatFlags);

/// "prefix level | message" with a prefix flag, else the message unchanged.
std::string formatLine(int level, const char* text, size_t length, int formatFlags);

}  // namespace detail
}  // namespace comn
