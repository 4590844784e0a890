// modem-sim: a stand-in for the LTE modem's AT command port, for tests and demos. It opens
// a pseudo-terminal, links its slave to a path (such as $BOARD_ROOT/dev/ttyUSB4) and
// answers the AT commands of the LTE monitor with configurable answers.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ModemAnswers.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void onSignal(int) {
    g_stop = 1;
}

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: modem-sim --link PATH [--log FILE] [--control FILE] [--KEY VALUE ...]\n"
                 "\n"
                 "Opens a pseudo-terminal, links its slave to PATH (for example\n"
                 "$BOARD_ROOT/dev/ttyUSB4) and answers AT commands like an EC20 modem until\n"
                 "SIGTERM or SIGINT, then removes the link. Commands arrive byte by byte; a\n"
                 "carriage return or line feed ends one, empty commands are ignored.\n"
                 "\n"
                 "  --link PATH       where the pseudo-terminal appears (an existing symbolic\n"
                 "                    link there is replaced; any other file is an error)\n"
                 "  --log FILE        append every command received, one per line\n"
                 "  --control FILE    KEY=VALUE lines read again before every command, on top\n"
                 "                    of the command-line answers: edit it (write a new file\n"
                 "                    and rename it over) to change answers while running\n"
                 "  --help            this text\n"
                 "\n"
                 "Answers (as --KEY VALUE options or control-file lines):\n"
                 "%s"
                 "\n"
                 "Answered commands: AT, AT+GSN, AT+CCID, AT+CPIN?, AT+CGREG?, AT+CSQ,\n"
                 "AT+COPS?, AT+CFUN=<n> (OK); anything else gets ERROR.\n",
                 modemsim::ModemAnswers::keysHelp());
}

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

void logCommand(const std::string& logFile, const std::string& command) {
    if (logFile.empty()) {
        return;
    }
    // One write per line, so a reader never sees half a command.
    const std::string line = command + "\n";
    const int fd = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        writeAll(fd, line);
        ::close(fd);
    }
}

bool linkPort(const std::string& slave, const std::string& link) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "modem-sim: %s exists and is not a symbolic link\n", link.c_str());
            return false;
        }
        ::unlink(link.c_str());
    }
    if (::symlink(slave.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "modem-sim: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

void unlinkPort(const std::string& slave, const std::string& link) {
    std::vector<char> target(slave.size() + 2, '\0');
    const ssize_t n = ::readlink(link.c_str(), target.data(), target.size());
    if (n == static_cast<ssize_t>(slave.size()) &&
        slave.compare(0, slave.size(), target.data(), static_cast<size_t>(n)) == 0) {
        ::unlink(link.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string link;
    std::string logFile;
    std::string controlFile;
    modemsim::ModemAnswers base;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        if (arg.compare(0, 2, "--") != 0 || i + 1 >= argc) {
            usage(stderr);
            return 2;
        }
        const std::string value = argv[++i];
        std::string why;
        if (arg == "--link") {
            link = value;
        } else if (arg == "--log") {
            logFile = value;
        } else if (arg == "--control") {
            controlFile = value;
        } else if (!base.set(arg.substr(2), value, why)) {
            std::fprintf(stderr, "modem-sim: %s\n", why.c_str());
            return 2;
        }
    }
    if (link.empty()) {
        usage(stderr);
        return 2;
    }

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("modem-sim: pseudo-terminal");
        return 1;
    }
    const std::string slave = ::ptsname(master);
    // Held open so that the master keeps working while no client has the port open.
    const int slaveKeeper = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveKeeper < 0 || !linkPort(slave, link)) {
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    std::printf("modem-sim: %s linked at %s\n", slave.c_str(), link.c_str());
    std::fflush(stdout);

    std::string command;
    while (!g_stop) {
        pollfd pfd{master, POLLIN, 0};
        const int rc = ::poll(&pfd, 1, 100);
        if (rc <= 0) {
            continue;
        }
        char bytes[256];
        const ssize_t n = ::read(master, bytes, sizeof bytes);
        if (n <= 0) {
            continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
            const char c = bytes[i];
            if (c != '\r' && c != '\n') {
                command += c;
                continue;
            }
            if (command.empty()) {
                continue;
            }
            logCommand(logFile, command);
            modemsim::ModemAnswers answers = base;
            std::string why;
            if (!controlFile.empty() && !answers.applyFile(controlFile, why)) {
                std::fprintf(stderr, "modem-sim: %s: %s\n", controlFile.c_str(), why.c_str());
            }
            writeAll(master, answers.reply(command));
            command.clear();
        }
    }
    unlinkPort(slave, link);
    ::close(slaveKeeper);
    ::close(master);
    return 0;
}
