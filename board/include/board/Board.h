#pragma once
// The board access layer: the one place that knows where board files live, how board
// tools run, and how device nodes, the clock and network interfaces are touched.
//
// The environment variable BOARD_ROOT is prefixed to every fixed board path. It is unset
// (or "/") on the appliance; set to another directory it selects the sandbox, where
// commands resolve only inside that directory, are logged to var/log/board.log, and clock
// and network changes are logged instead of applied (BOARD_NET=apply applies the network
// ones, for tests inside a private network namespace).

#include <string>

namespace board {

/// BOARD_ROOT without a trailing slash; empty on the appliance.
std::string root();

/// True when BOARD_ROOT names a directory other than "/".
bool isSandbox();

/// The real location of a fixed board path such as "/mnt/config/encoder.ini".
/// A relative path is returned unchanged.
std::string path(const std::string& boardPath);

/// Appends one line to $BOARD_ROOT/var/log/board.log in the sandbox (one write, so lines
/// of concurrent processes never mix), with its control characters escaped
/// (escapeControls). Does nothing on the appliance.
void logLine(const std::string& line);

/// The text on one line: a backslash becomes two, line feed, carriage return and tab become
/// backslash-n, -r, -t, and any other byte below 0x20 or 0x7F backslash-x and two hex
/// digits. Since backslashes are doubled, no escape can be forged either.
std::string escapeControls(const std::string& text);

/// The sandbox's board.log path (empty on the appliance).
std::string logPath();

}  // namespace board
