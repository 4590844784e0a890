#include "ChildProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cassert>
#include <cstdlib>

extern char** environ;

namespace testsupport {
namespace {

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

// The test's environment with the changes applied.
std::vector<std::string> environment(const std::map<std::string, std::string>& changes) {
    std::vector<std::string> result;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (changes.count(entry.substr(0, entry.find('='))) == 0) {
            result.push_back(entry);
        }
    }
    for (const auto& [name, value] : changes) {
        if (!value.empty()) {
            result.push_back(name + "=" + value);
        }
    }
    return result;
}

}  // namespace

bool ChildProcess::start(const std::vector<std::string>& argv, Stderr stderrTo,
                         const std::map<std::string, std::string>& env) {
    assert(!started() && !argv.empty());
    std::vector<std::string> argText = argv;
    std::vector<char*> args = pointers(argText);
    std::vector<std::string> envText = environment(env);
    std::vector<char*> envp = pointers(envText);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const std::string out = m_dir.file("output.txt");
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (stderrTo == Stderr::ToOutput) {
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    // The test runner or a test thread may block signals the program relies on.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    const int rc = posix_spawnp(&m_pid, args[0], &actions, &attributes, args.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
    }
    return started();
}

std::string ChildProcess::output() const {
    return readFile(m_dir.file("output.txt"));
}

bool ChildProcess::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) const {
    return waitFor([&] { return output().find(text) != std::string::npos; }, timeout,
                   std::chrono::milliseconds(20));
}

int ChildProcess::waitForPort(const std::string& label, std::chrono::milliseconds timeout,
                              size_t nth) const {
    int port = 0;
    waitFor(
        [&] {
            const std::string text = output();
            size_t seen = 0;
            for (size_t at = text.find(label + " "); at != std::string::npos;
                 at = text.find(label + " ", at + 1)) {
                if (text.find('\n', at) == std::string::npos) {
                    return false;  // the line is not complete yet
                }
                port = std::atoi(text.c_str() + at + label.size() + 1);
                if (port > 0 && ++seen == nth) {
                    return true;
                }
            }
            port = 0;
            return false;
        },
        timeout, std::chrono::milliseconds(20));
    return port;
}

bool ChildProcess::signal(int sig) const {
    return started() && !m_reaped && ::kill(m_pid, sig) == 0;
}

int ChildProcess::waitExit(std::chrono::milliseconds timeout) {
    if (!started()) {
        return -1;
    }
    waitFor(
        [&] {
            int status = 0;
            if (!m_reaped && ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_status = status;
                m_reaped = true;
            }
            return m_reaped;
        },
        timeout, std::chrono::milliseconds(10));
    return m_reaped ? m_status : -1;
}

int ChildProcess::stop(int sig, std::chrono::milliseconds timeout) {
    if (!signal(sig)) {
        return -2;
    }
    if (waitExit(timeout) == -1) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_reaped = true;
    }
    return m_status;
}

}  // namespace testsupport
