#pragma once
// Runs sluice-cast, ffprobe or curl in the background for the tool tests, and reads ffprobe's
// compact output.

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace sluicetest {

/// A command line run through the shell as a child process (testsupport::ChildProcess), its
/// standard output collected.
class Background {
public:
    explicit Background(const std::string& commandLine);

    /// Waits for the command to end by itself; its exit status (-1 when a signal ended it).
    int finish();
    /// Ends the command with SIGTERM unless it has ended; its exit status.
    int stop();
    bool done() { return m_child.waitExit(std::chrono::milliseconds(0)) != -1; }
    std::string output() const { return m_child.output(); }

private:
    testsupport::ChildProcess m_child;
};

using Fields = std::map<std::string, std::string>;

/// The distinct entries of one kind ("stream", "packet") in ffprobe's "-of compact" output, in
/// output order; a stream listed only after "program|" counts too, one listed twice once.
std::vector<Fields> ffprobeEntries(const std::string& output, const std::string& kind);

}  // namespace sluicetest
