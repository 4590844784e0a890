#pragma once

#include <syslog.h>

#include "CLog.h"

namespace comn {
namespace detail {

/// Sends each message to the system log (facility LOCAL6) without a prefix. The log is
/// opened with the writer and closed with it.
class SyslogWriter : public CLog::Writer {
public:
    SyslogWriter();
    ~SyslogWriter() override;
    SyslogWriter(const SyslogWriter&) = delete;
    SyslogWriter& operator=(const SyslogWriter&) = delete;

    void write(int level, const char* text, size_t length, int formatFlags) override;

    /// 0, 1 → LOG_DEBUG; 2 → LOG_INFO; 3 → LOG_WARNING; 4 → LOG_ERR; 5 → LOG_CRIT;
    /// anything else LOG_DEBUG.
    static int priorityOf(int level);
};

}  // namespace detail
}  // namespace comn
