#include "BenchChild.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"

BenchChild::BenchChild(const std::vector<std::string>& argv) {
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
        return;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        execv(args[0], args.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    m_in = toChild[1];
    m_out = fromChild[0];
}

BenchChild::~BenchChild() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_in >= 0) {
        close(m_in);
    }
    if (m_out >= 0) {
        close(m_out);
    }
}

std::string BenchChild::lineStartingWith(const std::string& prefix,
                                         std::chrono::milliseconds timeout) {
    std::string found;
    testsupport::waitFor(
        [&] {
            for (size_t end; (end = m_pending.find('\n')) != std::string::npos;) {
                std::string line = m_pending.substr(0, end);
                m_pending.erase(0, end + 1);
                if (line.compare(0, prefix.size(), prefix) == 0) {
                    found = line;
                    return true;
                }
            }
            pollfd ready{m_out, POLLIN, 0};
            char buffer[4096];
            if (poll(&ready, 1, 0) == 1) {
                const ssize_t n = read(m_out, buffer, sizeof buffer);
                if (n > 0) {
                    m_pending.append(buffer, static_cast<size_t>(n));
                }
            }
            return false;
        },
        timeout, std::chrono::milliseconds(1));
    return found;
}

void BenchChild::send(const std::string& line) {
    const std::string text = line + "\n";
    (void)!write(m_in, text.data(), text.size());
}

int BenchChild::wait(std::chrono::milliseconds timeout) {
    int status = 0;
    const bool ended =
        testsupport::waitFor([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, timeout);
    if (!ended) {
        return -1;
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
