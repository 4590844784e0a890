#include "Background.h"

#include <algorithm>
#include <csignal>
#include <sstream>

#include "TestSupport.h"

namespace sluicetest {

Background::Background(const std::string& commandLine, const std::string& pidFile)
    : m_pidFile(pidFile) {
    m_thread = std::thread([this, commandLine] {
        m_status =
            testsupport::shell("echo $$ > '" + m_pidFile + "'; exec " + commandLine, &m_output);
        m_done = true;
    });
}

int Background::finish() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return m_status;
}

int Background::stop() {
    if (m_thread.joinable()) {
        testsupport::waitFor([&] { return !testsupport::readFile(m_pidFile).empty() || m_done; });
        const std::string pid = testsupport::readFile(m_pidFile);
        if (!m_done && !pid.empty()) {
            ::kill(std::stoi(pid), SIGTERM);
        }
    }
    return finish();
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
