#pragma once
// The device side's diagnostics: plain lines on standard output, flushed at once so that
// they interleave correctly with the board tools' own output and survive a reboot that
// follows.

namespace enc {

/// printf to standard output, then flush.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// printf to standard error, then flush.
void sayError(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace enc
