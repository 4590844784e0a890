#include "LogWriter.h"

#include <cstdio>

#include "LogPrefix.h"

namespace comn {
namespace detail {

void LogWriter::write(int level, const char* text, size_t length, int formatFlags) {
    if (m_function != nullptr) {
        m_function(level, text, length, formatFlags);
    }
}

void LogWriter::printConsole(int level, const char* text, size_t length, int formatFlags) {
    const std::string line = formatLine(level, text, length, formatFlags);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

void LogWriter::discard(int, const char*, size_t, int) {}

}  // namespace detail
}  // namespace comn
