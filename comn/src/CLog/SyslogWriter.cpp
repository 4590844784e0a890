#include "SyslogWriter.h"

#include <syslog.h>

#include <string>

namespace comn {
namespace detail {

SyslogWriter::SyslogWriter() {
    ::openlog(nullptr, LOG_PID | LOG_NDELAY, LOG_LOCAL6);
}

SyslogWriter::~SyslogWriter() {
    ::closelog();
}

void SyslogWriter::write(int level, const char* text, size_t length, int) {
    const std::string message(text, length);
    ::syslog(priorityOf(level) | LOG_LOCAL6, "%s", message.c_str());
}

int SyslogWriter::priorityOf(int level) {
    switch (level) {
        case 2:
            return LOG_INFO;
        case 3:
            return LOG_WARNING;
        case 4:
            return LOG_ERR;
        case 5:
            return LOG_CRIT;
        default:
            return LOG_DEBUG;
    }
}

}  // namespace detail
}  // namespace comn
