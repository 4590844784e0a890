#pragma once

#include <string>
#include <vector>

namespace board {

struct RunOptions {
    /// Board path that receives the command's standard output, truncated first
    /// (the "> file" of a command line). Empty: output goes where ours goes.
    std::string stdoutTo;
    /// The line written to board.log; empty means the argument vector joined by blanks,
    /// followed by " > " and stdoutTo when set.
    std::string logText;
    /// When set, receives the command's standard output (at most 64 KiB are kept).
    std::string* capture = nullptr;
};

/// Runs a board command synchronously, without a shell: argv[0] is the board program,
/// absolute ("/sbin/reboot") or bare ("sync"); the other elements are passed as they are,
/// so no text is ever interpreted by a shell.
///
/// On the appliance the board's own program runs (bare names through PATH). In the
/// sandbox it is looked up only under BOARD_ROOT: absolute paths under the root, bare names
/// in the root's bin, sbin, usr/bin and usr/sbin; never on the host. The command is logged
/// to board.log first.
///
/// Result: the wait status as system() gives it (so WIFEXITED/WEXITSTATUS apply); a missing
/// program exits with 127; -1 when no process could be started.
int run(const std::vector<std::string>& argv, const RunOptions& options = RunOptions());

/// The text a command is logged under (see RunOptions::logText).
std::string commandText(const std::vector<std::string>& argv, const RunOptions& options);

/// Where the sandbox would find a program, or "" when it does not exist there.
/// On the appliance, argv[0] unchanged.
std::string resolveProgram(const std::string& program);

/// True when status is a normal exit with code 0.
bool succeeded(int status);

/// How a caller names the sync tool. Both run the board's one sync program; the board log
/// keeps the spelling each caller has always used ("/bin/sync" or "sync").
enum class SyncSpelling { Absolute, Bare };

/// Flushes the file systems to flash ("/bin/sync", or "sync" with SyncSpelling::Bare). The
/// only way the device and peerlo sync; returns run()'s result.
int syncStorage(SyncSpelling spelling = SyncSpelling::Absolute);

/// Restarts the board ("/sbin/reboot"). The only way the device and peerlo reboot; returns
/// run()'s result (in the sandbox the stub only logs).
int reboot();

}  // namespace board
