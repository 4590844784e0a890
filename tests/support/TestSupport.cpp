#include "TestSupport.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testsupport {

std::string sourceRoot() {
    const char* env = std::getenv("PROJECT_SOURCE_ROOT");
    return env != nullptr ? env : TESTSUPPORT_SOURCE_ROOT;
}

std::string binaryRoot() {
    const char* env = std::getenv("PROJECT_BINARY_ROOT");
    return env != nullptr ? env : TESTSUPPORT_BINARY_ROOT;
}

std::string programPath(const std::string& name) {
    return binaryRoot() + "/bin/" + name;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/enc-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (made == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = made;
}

TempDir::~TempDir() {
    shell("rm -rf '" + m_path + "'");
}

ScopedEnv::ScopedEnv(const std::string& name, const char* value) : m_name(name) {
    const char* old = std::getenv(name.c_str());
    m_had = old != nullptr;
    if (m_had) {
        m_old = old;
    }
    if (value != nullptr) {
        ::setenv(name.c_str(), value, 1);
    } else {
        ::unsetenv(name.c_str());
    }
}

ScopedEnv::~ScopedEnv() {
    if (m_had) {
        ::setenv(m_name.c_str(), m_old.c_str(), 1);
    } else {
        ::unsetenv(m_name.c_str());
    }
}

namespace {
std::string makeBoard(const std::string& dir) {
    // Flash partitions of 512 KiB hold every test image and keep the board quick to make.
    const std::string cmd = "VIRTUAL_BOARD_FLASH_KIB=512 " + sourceRoot() +
                            "/tools/virtual-board '" + dir + "' >/dev/null";
    if (shell(cmd) != 0) {
        throw std::runtime_error("tools/virtual-board failed for " + dir);
    }
    return dir;
}
}  // namespace

SandboxBoard::SandboxBoard() : m_dir(), m_env("BOARD_ROOT", makeBoard(m_dir.path()).c_str()) {}

std::vector<std::string> SandboxBoard::boardLog() const {
    return splitLines(readFile(path("/var/log/board.log")));
}

void SandboxBoard::clearBoardLog() const {
    writeFile(path("/var/log/board.log"), "");
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
             std::chrono::milliseconds step) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(step);
    }
    return true;
}

int shell(const std::string& commandLine, std::string* output) {
    FILE* pipe = ::popen(commandLine.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) {
        if (output != nullptr) {
            output->append(buf, n);
        }
    }
    const int status = ::pclose(pipe);
    return status == -1 ? -1 : (WIFEXITED(status) ? WEXITSTATUS(status) : 128);
}

std::string flashImage(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + 1) % 251);  // 251: prime, below 0xFF
    }
    return bytes;
}

HttpAnswer curl(const std::string& url, const std::string& options) {
    std::string out;
    shell(
        "curl -s --max-time 20 " + options + " -w '\\n%{http_code} %{redirect_url}' '" + url + "'",
        &out);
    HttpAnswer answer;
    const size_t split = out.rfind('\n');
    if (split != std::string::npos) {
        answer.body = out.substr(0, split);
        answer.status = std::atoi(out.c_str() + split + 1);
        const size_t space = out.find(' ', split);
        if (space != std::string::npos) {
            answer.redirect = out.substr(space + 1);
        }
    }
    return answer;
}

std::vector<std::string> curlCommand(const std::string& url, const std::vector<std::string>& words,
                                     int seconds) {
    std::vector<std::string> argv{"curl", "-s", "--max-time", std::to_string(seconds)};
    argv.insert(argv.end(), words.begin(), words.end());
    argv.push_back(url);
    return argv;
}

std::string digestJson(const std::string& credentials, const std::string& method,
                       const std::string& body, const std::string& bodyFile) {
    std::string words = "--digest -u " + credentials;
    if (!method.empty()) {
        words += " -X " + method;
    }
    if (!body.empty()) {
        writeFile(bodyFile, body);
        words += " -H 'Content-Type: application/json' --data-binary @" + bodyFile;
    }
    return words;
}

namespace {

/// An ephemeral port of a socket bound to the address; the socket stays open in *fd.
int bindEphemeral(int type, uint32_t address, int* fd) {
    *fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    socklen_t length = sizeof local;
    if (*fd < 0 || ::bind(*fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(*fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

}  // namespace

TakenPort::TakenPort(Kind kind) {
    const bool tcp = kind == Kind::TcpListener;
    const int port = bindEphemeral(tcp ? SOCK_STREAM : SOCK_DGRAM, INADDR_ANY, &m_fd);
    if (port != 0 && (!tcp || ::listen(m_fd, 1) == 0)) {
        m_port = port;
    }
}

TakenPort::~TakenPort() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool NetNamespace::available(std::string* why) {
    if (::geteuid() != 0) {
        if (why != nullptr) {
            *why = "network namespaces need root";
        }
        return false;
    }
    if (shell("command -v ip >/dev/null 2>&1") != 0) {
        if (why != nullptr) {
            *why = "the ip tool (iproute2) is missing";
        }
        return false;
    }
    return true;
}

NetNamespace::NetNamespace(const std::string& insideAddress, const std::string& peerAddress) {
    if (!available(&m_reason)) {
        return;
    }
    static std::atomic<int> counter{0};
    const std::string tag = std::to_string(::getpid()) + "-" + std::to_string(counter++);
    m_name = "enc-" + tag;
    m_peer = "encp-" + tag;
    std::string err;
    const auto hostOf = [](const std::string& cidr) { return cidr.substr(0, cidr.find('/')); };
    const std::string script =
        "set -e; ip netns add " + m_name + "; ip netns add " + m_peer + "; ip -n " + m_name +
        " link add eth0 type veth peer name eth0p netns " + m_peer + "; ip -n " + m_name +
        " addr add " + insideAddress + " brd + dev eth0" + "; ip -n " + m_peer + " addr add " +
        peerAddress + " brd + dev eth0p" + "; ip -n " + m_name + " link set lo up; ip -n " +
        m_name + " link set eth0 up" + "; ip -n " + m_peer + " link set lo up; ip -n " + m_peer +
        " link set eth0p up" + "; ip -n " + m_name + " route add 224.0.0.0/4 dev eth0" +
        "; ip -n " + m_peer + " route add 224.0.0.0/4 dev eth0p" +
        // A default route on each side, so broadcasts to 255.255.255.255 have a way out.
        "; ip -n " + m_name + " route add default via " + hostOf(peerAddress) + "; ip -n " +
        m_peer + " route add default via " + hostOf(insideAddress);
    if (shell("(" + script + ") 2>&1", &err) != 0) {
        m_reason = "could not create network namespaces: " + err;
        shell("ip netns del " + m_name + " 2>/dev/null; ip netns del " + m_peer + " 2>/dev/null");
        return;
    }
    m_ok = true;
}

NetNamespace::~NetNamespace() {
    if (!m_name.empty()) {
        shell("ip netns del " + m_name + " 2>/dev/null; ip netns del " + m_peer + " 2>/dev/null");
    }
}

}  // namespace testsupport
