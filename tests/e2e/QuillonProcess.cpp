#include "QuillonProcess.h"

#include <cstdlib>

#include "TestSupport.h"

namespace e2etest {

QuillonProcess::QuillonProcess(const std::vector<std::string>& args,
                               const std::map<std::string, std::string>& env) {
    std::vector<std::string> argv = {testsupport::programPath("Quillon")};
    argv.insert(argv.end(), args.begin(), args.end());
    m_child.start(argv, testsupport::ChildProcess::Stderr::ToOutput, env);
}

QuillonProcess::~QuillonProcess() {
    m_child.stop(SIGKILL);
}

int QuillonProcess::waitForPort(const std::string& label, std::chrono::milliseconds timeout) const {
    int port = 0;
    testsupport::waitFor(
        [&] {
            const std::string text = output();
            for (size_t at = text.find(label + " "); at != std::string::npos;
                 at = text.find(label + " ", at + 1)) {
                if (at != 0 && text[at - 1] != '\n') {
                    continue;  // only a line of its own
                }
                const size_t end = text.find('\n', at);
                if (end == std::string::npos) {
                    return false;  // the line is not complete yet
                }
                port = std::atoi(text.c_str() + at + label.size() + 1);
                return port > 0;
            }
            return false;
        },
        timeout);
    return port;
}

}  // namespace e2etest
