#include "board/Board.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace board {

std::string root() {
    const char* env = std::getenv("BOARD_ROOT");
    std::string r = env == nullptr ? std::string() : std::string(env);
    while (!r.empty() && r.back() == '/') {
        r.pop_back();  // "/" becomes "", the appliance
    }
    return r;
}

bool isSandbox() { return !root().empty(); }

std::string path(const std::string& boardPath) {
    if (boardPath.empty() || boardPath[0] != '/') {
        return boardPath;
    }
    return root() + boardPath;
}

std::string logPath() {
    const std::string r = root();
    return r.empty() ? std::string() : r + "/var/log/board.log";
}

std::string escapeControls(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20 || u == 0x7f) {
                    out += "\\x";
                    out += kHex[u >> 4];
                    out += kHex[u & 0xf];
                } else {
                    out += c;
                }
        }
    }
    return out;
}

void logLine(const std::string& line) {
    const std::string file = logPath();
    if (file.empty()) {
        return;
    }
    int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 && errno == ENOENT) {
        const std::string r = root();
        ::mkdir((r + "/var").c_str(), 0755);
        ::mkdir((r + "/var/log").c_str(), 0755);
        fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    }
    if (fd < 0) {
        return;
    }
    // Values from requests end up here: escaped, no value can start a line of its own.
    const std::string text = escapeControls(line) + "\n";
    ssize_t ignored = ::write(fd, text.data(), text.size());
    (void)ignored;
    ::close(fd);
}

}  // namespace board
