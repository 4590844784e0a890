#pragma once
// The casting library's process-wide logger.

#include <cstdarg>
#include <cstddef>
#include <string>

namespace comn {

/// Static logger with up to five sinks (console, syslog, rolling file, debugger output, a
/// caller-supplied function), each with its own level threshold and line format. A message
/// is formatted once and handed to every sink whose threshold is at or below its level.
///
/// Levels: 0 "all", 1 "debug", 2 "info", 3 "warning", 4 "error", 5 "fatal". Format flags:
/// 1 prefixes lines with date and time ("2024-05-01 12:00:01.7 warning | text"), 2 with the
/// time only, 0 writes the message bare; with both bits, date and time win. Callers end
/// their formats with "\n" themselves.
///
/// Without a configuration (no config() that found its file, no setWriter()), nothing is
/// logged anywhere. Usable from any thread: one recursive lock serialises every sink call
/// and every change of the sinks; formatting happens before the lock is taken.
class CLog {
public:
    /// A sink. write() is always called with the logger's lock held.
    class Writer {
    public:
        virtual ~Writer() = default;
        virtual void write(int level, const char* text, size_t length, int formatFlags) = 0;
    };

    /// The caller-supplied sink function (sink type 4).
    using WriterFunction = void (*)(int level, const char* text, size_t length, int formatFlags);

    enum Level { kAll = 0, kDebug = 1, kInfo = 2, kWarning = 3, kError = 4, kFatal = 5 };
    enum SinkType { kConsole = 0, kSyslog = 1, kFile = 2, kDebugger = 3, kFunction = 4 };
    enum FormatFlag { kDateTime = 1, kTime = 2 };
    static constexpr int kSinkCount = 5;

    /// Reads the settings file (sections "Console", "Debug", "File", "Syslog"; keys
    /// "Enabled", "Level", "Format", and for the file "FileName", "MaxSize" in MiB,
    /// "RollCount") and installs the sinks it enables, replacing all sinks. A section
    /// without "Enabled" is disabled. Returns 0 when the file was read or when path is null
    /// or empty (nothing is done then), 2 when it cannot be opened (the sinks stay).
    static int config(const char* path);

    /// Creates the sink of type 0-3 with its threshold and format flags, replacing the one
    /// in that slot. 0 on success, 22 for any other type.
    static int setWriter(int type, int level, int formatFlags);
    /// Installs (or, with a null function, removes) the caller-supplied sink. Always 0.
    static int setFunctionWriter(WriterFunction function, int level, int formatFlags);

    /// Rolling file parameters. A null or empty name becomes "app.log", a size below 1 MiB
    /// becomes 10, a roll count below 1 becomes 2. An existing file sink moves to the new
    /// path at once. 0, or 22 for a name longer than 255 characters (nothing changes).
    static int setFileParam(const char* name, int maxSizeMiB, int rollCount);
    /// The stored rolling file name.
    static std::string getFileName();

    /// Deletes every sink.
    static void clearWriters();
    /// The lowest threshold among the sinks that put lines somewhere (every sink but the
    /// debugger output); kFatal + 1 when there is none. Lets a source of messages that costs
    /// to produce them (a library's own logging) skip those nobody would see.
    static int lowestLevel();

    static void log(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
    static void vlog(int level, const char* format, va_list args)
        __attribute__((format(printf, 2, 0)));
    static void debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void info(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void warning(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void error(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

    /// The level's name; levels below 0 count as 0, above 5 as 5.
    static const char* levelName(int level);
    /// The level whose name equals text exactly (case matters); 0 for anything else.
    static int levelFromName(const std::string& text);
    /// Flags of a comma-separated Format value ("datetime" adds 1, "time" adds 2; items are
    /// compared untrimmed, others add nothing).
    static int formatFromText(const std::string& text);
};

/// Two lowercase hexadecimal digits per byte, no separators.
std::string toHexString(const void* data, size_t length);

}  // namespace comn

using comn::CLog;
