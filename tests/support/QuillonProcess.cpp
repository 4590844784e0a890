#include "QuillonProcess.h"

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
    return m_child.waitForPort(label, timeout);
}

}  // namespace e2etest
