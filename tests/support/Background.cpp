#include "Background.h"

#include <sys/wait.h>

#include <algorithm>
#include <sstream>

#include "TestSupport.h"

namespace sluicetest {

namespace {

int exitStatus(int waitStatus) {
    return waitStatus >= 0 && WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
}

}  // namespace

Background::Background(const std::string& commandLine) {
    m_child.start({"sh", "-c", "exec " + commandLine}, testsupport::ChildProcess::Stderr::Inherit);
}

int Background::finish() {
    return exitStatus(m_child.waitExit(std::chrono::minutes(10)));
}

int Background::stop() {
    const int status = m_child.stop();
    // -2: it had ended and was reaped already.
    return exitStatus(status == -2 ? m_child.waitExit(std::chrono::milliseconds(0)) : status);
}

std::vector<Fields> ffprobeEntries(const std::string& output, const std::string& kind) {
    std::vector<Fields> found;
    for (const std::string& line : testsupport::splitLines(output)) {
        const size_t start = line.find(kind + "|");
        if (start == std::string::npos) {
            continue;
        }
        Fields fields;
        std::istringstream in(line.substr(start + kind.size() + 1));
        std::string item;
        while (std::getline(in, item, '|')) {
            const size_t eq = item.find('=');
            if (eq != std::string::npos) {
                fields[item.substr(0, eq)] = item.substr(eq + 1);
            }
        }
        if (std::find(found.begin(), found.end(), fields) == found.end()) {
            found.push_back(fields);
        }
    }
    return found;
}

}  // namespace sluicetest
