#include "CLog.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "FileLogWriter.h"
#include "IniFile.h"
#include "LogWriter.h"
#include "Mutex.h"
#include "SyslogWriter.h"

namespace comn {
namespace {

constexpr const char* kLevelNames[] = {"all", "debug", "info", "warning", "error", "fatal"};
constexpr size_t kMaxFileName = 255;  // the file name buffer of the settings holds 255 chars
constexpr uint64_t kMiB = 1048576;
constexpr size_t kStackMessage = 1024;
// A message that cannot be formatted into this much heap is dropped.
constexpr size_t kMaxHeapMessage = 16 * kMiB;

struct LogState {
    std::unique_ptr<CLog::Writer> writers[CLog::kSinkCount];
    int levels[CLog::kSinkCount] = {};
    int formats[CLog::kSinkCount] = {};
    std::string fileName;
    int maxSizeMiB = 10;
    int rollCount = 2;
    Mutex lock;
};

// Never destroyed: casters released during process exit may still log after every
// other static object is gone.
LogState& state() {
    static LogState* s = new LogState;
    return *s;
}

struct SinkSettings {
    bool enabled = false;
    int level = 0;
    int format = 0;
};

SinkSettings readSink(const IniFile& ini, const std::string& section) {
    SinkSettings sink;
    std::string enabled;
    std::string level;
    std::string format;
    ini.getValue(section, "Enabled", enabled);
    ini.getValue(section, "Level", level);
    ini.getValue(section, "Format", format);
    sink.enabled = enabled == "true" || enabled == "1";
    sink.level = CLog::levelFromName(level);
    sink.format = CLog::formatFromText(format);
    return sink;
}

void dispatch(int level, const char* text, size_t length) {
    LogState& s = state();
    AutoLock guard(s.lock);
    for (int i = 0; i < CLog::kSinkCount; ++i) {
        if (s.writers[i] != nullptr && s.levels[i] <= level) {
            s.writers[i]->write(level, text, length, s.formats[i]);
        }
    }
}

}  // namespace

int CLog::config(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return 0;
    }
    IniFile ini;
    if (!ini.load(path, /*trimTrailingCr*/ true)) {
        return 2;
    }
    LogState& s = state();
    AutoLock guard(s.lock);
    clearWriters();

    SinkSettings console = readSink(ini, "Console");
    if (console.enabled) {
        setWriter(kConsole, console.level, console.format);
    }
    SinkSettings debugger = readSink(ini, "Debug");
    if (debugger.enabled) {
        setWriter(kDebugger, debugger.level, debugger.format);
    }

    std::string fileName = s.fileName;
    int maxSize = s.maxSizeMiB;
    int rollCount = s.rollCount;
    ini.getValue("File", "FileName", fileName);
    ini.getValue("File", "MaxSize", maxSize);
    ini.getValue("File", "RollCount", rollCount);
    setFileParam(fileName.c_str(), maxSize, rollCount);
    SinkSettings file = readSink(ini, "File");
    if (file.enabled) {
        setWriter(kFile, file.level, file.format);
    }

    SinkSettings syslog = readSink(ini, "Syslog");
    if (syslog.enabled) {
        setWriter(kSyslog, syslog.level, syslog.format);
    }
    return 0;
}

int CLog::setWriter(int type, int level, int formatFlags) {
    LogState& s = state();
    std::unique_ptr<Writer> writer;
    AutoLock guard(s.lock);
    switch (type) {
        case kConsole:
            writer = std::make_unique<detail::LogWriter>(&detail::LogWriter::printConsole);
            break;
        case kSyslog:
            writer = std::make_unique<detail::SyslogWriter>();
            break;
        case kFile:
            writer = std::make_unique<detail::FileLogWriter>(
                s.fileName, static_cast<uint64_t>(s.maxSizeMiB) * kMiB, s.rollCount);
            break;
        case kDebugger:
            writer = std::make_unique<detail::LogWriter>(&detail::LogWriter::discard);
            break;
        default:
            return 22;
    }
    s.writers[type] = std::move(writer);
    s.levels[type] = level;
    s.formats[type] = formatFlags;
    return 0;
}

int CLog::lowestLevel() {
    LogState& s = state();
    AutoLock guard(s.lock);
    int lowest = kFatal + 1;
    for (int i = 0; i < kSinkCount; ++i) {
        if (i != kDebugger && s.writers[i] != nullptr && s.levels[i] < lowest) {
            lowest = s.levels[i];
        }
    }
    return lowest;
}

int CLog::setFunctionWriter(WriterFunction function, int level, int formatFlags) {
    LogState& s = state();
    AutoLock guard(s.lock);
    if (function == nullptr) {
        s.writers[kFunction].reset();
    } else {
        s.writers[kFunction] = std::make_unique<detail::LogWriter>(function);
    }
    s.levels[kFunction] = level;
    s.formats[kFunction] = formatFlags;
    return 0;
}

int CLog::setFileParam(const char* name, int maxSizeMiB, int rollCount) {
    std::string fileName = (name == nullptr || name[0] == '\0') ? "app.log" : name;
    if (fileName.size() > kMaxFileName) {
        return 22;
    }
    if (maxSizeMiB < 1) {
        maxSizeMiB = 10;
    }
    if (rollCount < 1) {
        rollCount = 2;
    }
    LogState& s = state();
    AutoLock guard(s.lock);
    s.fileName = fileName;
    s.maxSizeMiB = maxSizeMiB;
    s.rollCount = rollCount;
    if (auto* file = dynamic_cast<detail::FileLogWriter*>(s.writers[kFile].get())) {
        file->setPath(fileName);
        file->setMaxSize(static_cast<uint64_t>(maxSizeMiB) * kMiB);
        file->setRollCount(rollCount);
    }
    return 0;
}

std::string CLog::getFileName() {
    LogState& s = state();
    AutoLock guard(s.lock);
    return s.fileName;
}

void CLog::clearWriters() {
    LogState& s = state();
    AutoLock guard(s.lock);
    for (auto& writer : s.writers) {
        writer.reset();
    }
}

void CLog::vlog(int level, const char* format, va_list args) {
    char stackBuffer[kStackMessage];
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(stackBuffer, sizeof stackBuffer, format, copy);
    va_end(copy);
    if (needed >= 0 && static_cast<size_t>(needed) < sizeof stackBuffer) {
        dispatch(level, stackBuffer, static_cast<size_t>(needed));
        return;
    }
    // Too long for the stack buffer (exact size known), or a formatting error (retry with
    // doubling heap buffers, in case the error was a lack of room).
    size_t capacity = needed >= 0 ? static_cast<size_t>(needed) + 1 : 2 * kStackMessage;
    while (capacity <= kMaxHeapMessage) {
        std::vector<char> heap;
        try {
            heap.resize(capacity);
        } catch (const std::bad_alloc&) {
            return;
        }
        va_copy(copy, args);
        const int n = std::vsnprintf(heap.data(), heap.size(), format, copy);
        va_end(copy);
        if (n >= 0 && static_cast<size_t>(n) < heap.size()) {
            dispatch(level, heap.data(), static_cast<size_t>(n));
            return;
        }
        capacity = n >= 0 ? static_cast<size_t>(n) + 1 : capacity * 2;
    }
}

void CLog::log(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vlog(level, format, args);
    va_end(args);
}

#define COMN_CLOG_LEVEL_FUNCTION(name, level)  \
    void CLog::name(const char* format, ...) { \
        va_list args;                          \
        va_start(args, format);                \
        vlog(level, format, args);             \
        va_end(args);                          \
    }
COMN_CLOG_LEVEL_FUNCTION(debug, kDebug)
COMN_CLOG_LEVEL_FUNCTION(info, kInfo)
COMN_CLOG_LEVEL_FUNCTION(warning, kWarning)
COMN_CLOG_LEVEL_FUNCTION(error, kError)
COMN_CLOG_LEVEL_FUNCTION(fatal, kFatal)
#undef COMN_CLOG_LEVEL_FUNCTION

const char* CLog::levelName(int level) {
    if (level < kAll) {
        level = kAll;
    }
    if (level > kFatal) {
        level = kFatal;
    }
    return kLevelNames[level];
}

int CLog::levelFromName(const std::string& text) {
    for (int i = kAll; i <= kFatal; ++i) {
        if (text == kLevelNames[i]) {
            return i;
        }
    }
    return kAll;
}

int CLog::formatFromText(const std::string& text) {
    int flags = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) {
            comma = text.size();
        }
        const std::string item = text.substr(start, comma - start);
        if (item == "datetime") {
            flags |= kDateTime;
        } else if (item == "time") {
            flags |= kTime;
        }
        start = comma + 1;
    }
    return flags;
}

std::string toHexString(const void* data, size_t length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::string text;
    text.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace comn
