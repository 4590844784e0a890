#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

/// A benchmark program run as a child with pipes on its standard input and output, the way
/// scripts/bench talks to it: lines out, lines in. Killed and reaped by the destructor.
class BenchChild {
public:
    explicit BenchChild(const std::vector<std::string>& argv);
    ~BenchChild();
    BenchChild(const BenchChild&) = delete;
    BenchChild& operator=(const BenchChild&) = delete;

    bool started() const { return m_pid > 0; }
    /// The next output line starting with prefix, or "" when none comes before the deadline.
    std::string lineStartingWith(const std::string& prefix,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(20));
    void send(const std::string& line);
    /// Waits for the exit; the exit status, or -1 when it did not end in time.
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    std::string m_pending;
};
