#include "SrtLog.h"

#include <srt/srt.h>
#include <syslog.h>

#include "CLog.h"

namespace {

// libsrt's levels are syslog's.
int srtLevelToLog(int srtLevel) {
    if (srtLevel <= LOG_CRIT) {
        return CLog::kFatal;
    }
    if (srtLevel == LOG_ERR) {
        return CLog::kError;
    }
    if (srtLevel == LOG_WARNING) {
        return CLog::kWarning;
    }
    return srtLevel == LOG_DEBUG ? CLog::kDebug : CLog::kInfo;
}

int logLevelToSrt(int logLevel) {
    if (logLevel <= CLog::kDebug) {
        return LOG_DEBUG;
    }
    if (logLevel == CLog::kInfo) {
        return LOG_NOTICE;
    }
    if (logLevel == CLog::kWarning) {
        return LOG_WARNING;
    }
    return logLevel == CLog::kError ? LOG_ERR : LOG_CRIT;
}

void forward(void*, int level, const char*, int, const char*, const char* message) {
    CLog::log(srtLevelToLog(level), "libsrt: %s\n", message);
}

}  // namespace

void routeSrtLog() {
    // Our lines carry their own time and level; libsrt's prefix would repeat them.
    srt_setlogflags(SRT_LOGF_DISABLE_TIME | SRT_LOGF_DISABLE_THREADNAME |
                    SRT_LOGF_DISABLE_SEVERITY | SRT_LOGF_DISABLE_EOL);
    srt_setloghandler(nullptr, &forward);
    srt_setloglevel(logLevelToSrt(CLog::lowestLevel()));
}
