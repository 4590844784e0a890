#pragma once

#include "CLog.h"

namespace comn {
namespace detail {

/// A sink that calls one plain function (the console printer, the silent debugger output,
/// or a caller-supplied function). A null function makes it a sink that drops everything.
class LogWriter : public CLog::Writer {
public:
    explicit LogWriter(CLog::WriterFunction function) : m_function(function) {}
    void write(int level, const char* text, size_t length, int formatFlags) override;

    /// Prints one line on standard output ("prefix level | message" or the bare message).
    static void printConsole(int level, const char* text, size_t length, int formatFlags);
    /// Accepts a line and produces no output (there is no debugger channel on Linux).
    static void discard(int level, const char* text, size_t length, int formatFlags);

private:
    CLog::WriterFunction m_function;
};

}  // namespace detail
}  // namespace comn
