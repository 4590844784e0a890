#pragma once
// Runs sluice-cast, ffprobe or curl in the background for the tool tests, and reads ffprobe's
// compact output.

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace sluicetest {

/// A command line run through the shell on its own thread, its output collected.
class Background {
public:
    /// pidFile: where the shell notes its process id, so that stop() can end it.
    Background(const std::string& commandLine, const std::string& pidFile);
    ~Background() { stop(); }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    /// Waits for the command to end by itself; its exit status.
    int finish();
    /// Ends the command with SIGTERM unless it has ended; its exit status.
    int stop();
    bool done() const { return m_done; }
    const std::string& output() const { return m_output; }

private:
    std::string m_pidFile;
    std::string m_output;
    std::atomic<int> m_status{-1};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

using Fields = std::map<std::string, std::string>;

/// The distinct entries of one kind ("stream", "packet") in ffprobe's "-of compact" output, in
/// output order; a stream listed only after "program|" counts too, one listed twice once.
std::vector<Fields> ffprobeEntries(const std::string& output, const std::string& kind);

}  // namespace sluicetest
