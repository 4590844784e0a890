#pragma once
// Runs build/bin/Quillon as a child process for a test: its standard output and error go
// to a file the test reads, extra environment variables are added to the test's own.

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace e2etest {

class QuillonProcess {
public:
    /// Starts Quillon with these arguments; env entries are added to (or replace) the
    /// test's environment, an empty value removes the variable.
    explicit QuillonProcess(const std::vector<std::string>& args,
                            const std::map<std::string, std::string>& env = {});
    /// Kills the process (SIGKILL) when it still runs, and reaps it.
    ~QuillonProcess();

    bool started() const { return m_child.started(); }

    /// Everything printed so far.
    std::string output() const { return m_child.output(); }
    /// Waits until the output contains text.
    bool waitForOutput(const std::string& text,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        return m_child.waitForOutput(text, timeout);
    }

    /// The port of the line "<label> N" (such as "web server listening on port 8080"),
    /// waiting for it until the deadline; 0 when it did not appear. With port 0 in
    /// QUILLON_HTTP_PORT or QUILLON_HTTPS_PORT, the way to learn the port Quillon bound.
    int waitForPort(const std::string& label,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    /// Sends a signal; false when the process has been reaped already.
    bool signal(int sig) const { return m_child.signal(sig); }
    /// Waits for the process to end; its wait status, or -1 when it was still running at
    /// the deadline (it is then left running for the destructor).
    int waitExit(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return m_child.waitExit(timeout);
    }

private:
    testsupport::ChildProcess m_child;
};

}  // namespace e2etest
