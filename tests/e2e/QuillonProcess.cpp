#include "QuillonProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace e2etest {

QuillonProcess::QuillonProcess(const std::vector<std::string>& args,
                               const std::map<std::string, std::string>& env) {
    // Everything the child needs is prepared here: between fork and exec only
    // async-signal-safe calls are allowed, and the test may run threads.
    std::map<std::string, std::string> merged;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const size_t eq = entry.find('=');
        if (eq != std::string::npos) {
            merged[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    for (const auto& [name, value] : env) {
        if (value.empty()) {
            merged.erase(name);
        } else {
            merged[name] = value;
        }
    }
    std::vector<std::string> envText;
    for (const auto& [name, value] : merged) {
        envText.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& e : envText) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    const std::string program = testsupport::programPath("Quillon");
    std::vector<std::string> argText = {program};
    argText.insert(argText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argText) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    const int out =
        ::open(m_dir.file("output.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (out < 0 || in < 0) {
        return;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        // The test runner may have blocked or ignored signals the program relies on.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out);
    ::close(in);
    m_pid = pid;
}

QuillonProcess::~QuillonProcess() {
    if (m_pid > 0 && m_status == -1) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

std::string QuillonProcess::output() const {
    return testsupport::readFile(m_dir.file("output.txt"));
}

bool QuillonProcess::waitForOutput(const std::string& text,
                                   std::chrono::milliseconds timeout) const {
    return testsupport::waitFor([&] { return output().find(text) != std::string::npos; }, timeout,
                                std::chrono::milliseconds(20));
}

bool QuillonProcess::signal(int sig) const {
    return m_pid > 0 && m_status == -1 && ::kill(m_pid, sig) == 0;
}

int QuillonProcess::waitExit(std::chrono::milliseconds timeout) {
    if (m_pid <= 0) {
        return -1;
    }
    testsupport::waitFor(
        [&] {
            if (m_status != -1) {
                return true;
            }
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_status = status;
            }
            return m_status != -1;
        },
        timeout, std::chrono::milliseconds(10));
    return m_status;
}

}  // namespace e2etest
