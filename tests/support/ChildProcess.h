#pragma once
// A program run as a child process by a test: its output goes to a file in a private
// temporary directory, and the child is stopped and reaped at the latest on destruction.

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace testsupport {

class ChildProcess {
public:
    enum class Stderr { ToOutput, Inherit };

    /// Makes the temporary directory; start() runs the program.
    ChildProcess() = default;
    /// Stops the child as stop() does when it still runs.
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Starts argv[0] (searched in PATH when it has no '/') once, with standard input from
    /// /dev/null, standard output to output() and no signal blocked. env entries are added to
    /// (or replace) the test's environment, an empty value removes the variable. False when
    /// the program could not be started.
    bool start(const std::vector<std::string>& argv, Stderr stderrTo = Stderr::ToOutput,
               const std::map<std::string, std::string>& env = {});

    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    /// The private directory, for files the test shares with the child.
    const TempDir& dir() const { return m_dir; }

    /// Everything printed so far ("" before the start).
    std::string output() const;
    /// Waits until the output contains text.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout) const;

    /// The port of the nth complete line with "<label> N" (such as "web server listening
    /// on port 8080"), waiting for it until the deadline; 0 when it did not appear. How a test
    /// learns the port a program under test got when it was told to use port 0.
    int waitForPort(const std::string& label,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20),
                    size_t nth = 1) const;

    /// Sends a signal; false when the child is not running (never started or reaped).
    bool signal(int sig) const;
    /// Waits for the child to end; its wait status (the same on later calls), or -1 when it
    /// was still running at the deadline or never started.
    int waitExit(std::chrono::milliseconds timeout);
    /// Sends sig and waits for the end; the wait status, -1 when it did not end within the
    /// timeout (it is then killed with SIGKILL and reaped), -2 when it was not running
    /// (never started, or reaped already).
    int stop(int sig = SIGTERM, std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    TempDir m_dir;
    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_status = -1;
};

}  // namespace testsupport
