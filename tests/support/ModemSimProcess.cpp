#include "ModemSimProcess.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

namespace devicetest {

ModemSimProcess::ModemSimProcess(const std::string& link, const std::vector<std::string>& options) {
    const testsupport::TempDir& dir = m_child.dir();
    std::vector<std::string> argv = {testsupport::programPath("modem-sim"),
                                     "--link",
                                     link,
                                     "--log",
                                     dir.file("commands.log"),
                                     "--control",
                                     dir.file("control")};
    argv.insert(argv.end(), options.begin(), options.end());
    // Its complaints go to the test's own error output.
    m_ready = m_child.start(argv, testsupport::ChildProcess::Stderr::Inherit) &&
              testsupport::waitFor([&] {
                  struct stat st {};
                  return ::stat(link.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
              });
}

void ModemSimProcess::control(const std::string& lines) {
    const std::string next = m_child.dir().file("control.next");
    testsupport::writeFile(next, lines);
    std::rename(next.c_str(), m_child.dir().file("control").c_str());
}

std::vector<std::string> ModemSimProcess::commands() const {
    const std::string log = m_child.dir().file("commands.log");
    if (!testsupport::fileExists(log)) {
        return {};
    }
    return testsupport::splitLines(testsupport::readFile(log));
}

size_t ModemSimProcess::count(const std::string& command) const {
    const auto list = commands();
    return static_cast<size_t>(std::count(list.begin(), list.end(), command));
}

}  // namespace devicetest
