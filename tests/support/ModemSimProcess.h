#pragma once
// Runs build/bin/modem-sim for a test: linked at a given path, with its command log and
// control file in a private temporary directory.

#include <string>
#include <vector>

#include "ChildProcess.h"

namespace devicetest {

class ModemSimProcess {
public:
    /// Starts the simulator linked at `link` with extra options ("--imei", "123", ...) and
    /// waits until the link is in place. The destructor stops it (SIGTERM) and reaps it.
    explicit ModemSimProcess(const std::string& link, const std::vector<std::string>& options = {});

    bool ok() const { return m_ready; }

    /// Replaces the control file ("key=value" lines) in one rename; the simulator reads it
    /// before the next command.
    void control(const std::string& lines);

    /// The commands received so far, in order.
    std::vector<std::string> commands() const;
    size_t count(const std::string& command) const;

private:
    testsupport::ChildProcess m_child;
    bool m_ready = false;
};

}  // namespace devicetest
