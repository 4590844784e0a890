#include "ModemSimProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>

extern char** environ;

namespace devicetest {

ModemSimProcess::ModemSimProcess(const std::string& link, const std::vector<std::string>& options) {
    std::vector<std::string> argv = {testsupport::programPath("modem-sim"),
                                     "--link",
                                     link,
                                     "--log",
                                     m_dir.file("commands.log"),
                                     "--control",
                                     m_dir.file("control")};
    argv.insert(argv.end(), options.begin(), options.end());
    std::vector<char*> args;
    for (auto& a : argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string output = m_dir.file("output.txt");
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int rc = posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        return;
    }
    m_ready = testsupport::waitFor([&] {
        struct stat st {};
        return ::stat(link.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
    });
}

ModemSimProcess::~ModemSimProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
}

void ModemSimProcess::control(const std::string& lines) {
    const std::string next = m_dir.file("control.next");
    testsupport::writeFile(next, lines);
    std::rename(next.c_str(), m_dir.file("control").c_str());
}

std::vector<std::string> ModemSimProcess::commands() const {
    const std::string log = m_dir.file("commands.log");
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
