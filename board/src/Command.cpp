#include "board/Command.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "board/Board.h"

extern char** environ;

namespace board {
namespace {

constexpr size_t kCaptureLimit = 64 * 1024;
// Exit code of a program that cannot be found, as a shell reports it.
constexpr int kMissingProgram = 127;
// Exit code of a shell whose output redirection cannot be opened.
constexpr int kRedirectFailed = 1;

bool isExecutableFile(const std::string& file) {
    struct stat st{};
    return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(file.c_str(), X_OK) == 0;
}

}  // namespace

std::string resolveProgram(const std::string& program) {
    const std::string r = root();
    if (r.empty()) {
        return program;
    }
    if (!program.empty() && program[0] == '/') {
        const std::string mapped = r + program;
        return isExecutableFile(mapped) ? mapped : std::string();
    }
    if (program.find('/') != std::string::npos || program.empty()) {
        return std::string();  // relative paths have no meaning on the board
    }
    for (const char* dir : {"/bin/", "/sbin/", "/usr/bin/", "/usr/sbin/"}) {
        const std::string candidate = r + dir + program;
        if (isExecutableFile(candidate)) {
            return candidate;
        }
    }
    return std::string();
}

std::string commandText(const std::vector<std::string>& argv, const RunOptions& options) {
    if (!options.logText.empty()) {
        return options.logText;
    }
    std::string text;
    for (const auto& arg : argv) {
        if (!text.empty()) {
            text += ' ';
        }
        text += arg;
    }
    if (!options.stdoutTo.empty()) {
        text += " > " + options.stdoutTo;
    }
    return text;
}

bool succeeded(int status) { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }

int run(const std::vector<std::string>& argv, const RunOptions& options) {
    if (argv.empty()) {
        return -1;
    }
    const bool sandbox = isSandbox();
    if (sandbox) {
        logLine(commandText(argv, options));
    }
    const std::string program = resolveProgram(argv[0]);
    if (sandbox && program.empty()) {
        return kMissingProgram << 8;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    int pipeFds[2] = {-1, -1};
    int outFd = -1;
    if (!options.stdoutTo.empty()) {
        outFd = ::open(path(options.stdoutTo).c_str(),
                       O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (outFd < 0) {
            posix_spawn_file_actions_destroy(&actions);
            return kRedirectFailed << 8;
        }
        posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    } else if (options.capture != nullptr) {
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            return -1;
        }
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    }

    // Board tools expect the default signal dispositions, whatever the caller ignores.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    sigset_t noMask;
    sigemptyset(&noMask);
    posix_spawnattr_setsigmask(&attr, &noMask);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    pid_t pid = -1;
    int rc;
    if (program.find('/') != std::string::npos) {
        rc = posix_spawn(&pid, program.c_str(), &actions, &attr, args.data(), environ);
    } else {
        rc = posix_spawnp(&pid, program.c_str(), &actions, &attr, args.data(), environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (pipeFds[1] >= 0) {
        ::close(pipeFds[1]);
    }
    if (outFd >= 0) {
        ::close(outFd);
    }
    if (rc != 0) {
        if (pipeFds[0] >= 0) {
            ::close(pipeFds[0]);
        }
        // glibc reports a missing program from posix_spawn itself.
        return rc == ENOENT || rc == EACCES ? kMissingProgram << 8 : -1;
    }

    if (pipeFds[0] >= 0) {
        options.capture->clear();
        char chunk[4096];
        for (;;) {
            ssize_t n = ::read(pipeFds[0], chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            if (options.capture->size() < kCaptureLimit) {
                options.capture->append(chunk, static_cast<size_t>(n));
            }
        }
        ::close(pipeFds[0]);
    }

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return status;
}

int syncStorage(SyncSpelling spelling) {
    return run({spelling == SyncSpelling::Bare ? "sync" : "/bin/sync"});
}

int reboot() {
    return run({"/sbin/reboot"});
}

}  // namespace board
