#pragma once
// Helpers shared by the test suites: temporary directories, environment overrides,
// sandbox boards made by tools/virtual-board, files, deadline waits, free and taken ports,
// and private network namespaces.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

/// The repository root and the build directory of the running test.
std::string sourceRoot();
std::string binaryRoot();
/// build/bin/<name> of the running build.
std::string programPath(const std::string& name);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
bool fileExists(const std::string& path);
std::vector<std::string> splitLines(const std::string& text);

/// A fresh directory under /tmp, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

/// Sets (or, with nullptr, unsets) an environment variable for the scope.
class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    bool m_had;
    std::string m_old;
};

/// A complete sandbox board made by tools/virtual-board in a temporary directory, with
/// BOARD_ROOT pointing at it for the scope.
class SandboxBoard {
public:
    SandboxBoard();
    const std::string& root() const { return m_dir.path(); }
    /// The real location of a board path inside this sandbox.
    std::string path(const std::string& boardPath) const { return root() + boardPath; }
    /// Lines of var/log/board.log so far.
    std::vector<std::string> boardLog() const;
    /// Truncates var/log/board.log.
    void clearBoardLog() const;

private:
    TempDir m_dir;
    ScopedEnv m_env;
};

/// Polls the condition until it holds or the deadline passes.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(10),
             std::chrono::milliseconds step = std::chrono::milliseconds(5));

/// Runs a shell command line and returns its exit status (-1 when it could not run).
int shell(const std::string& commandLine, std::string* output = nullptr);

/// A recognisable flash image of size bytes: no byte equals its neighbour's, and none of the
/// first bytes is the erased value 0xFF.
std::string flashImage(size_t size);

/// One HTTP answer as curl saw it: the status (0 when no answer came), the body (the
/// headers with "-I"; empty with "-o FILE") and where a redirect points ("" without one).
struct HttpAnswer {
    int status = 0;
    std::string body;
    std::string redirect;
};

/// One request through curl, as a user would make it: `options` are further curl words for
/// the shell (credentials, method, data, "-F 'add=@FILE'" uploads, "--cacert 'FILE'", "-I",
/// "--raw": quote them), url the whole address. Silent, at most 20 seconds.
HttpAnswer curl(const std::string& url, const std::string& options = std::string());

/// The words of the same curl run for a ChildProcess (curl in the background, such as a
/// viewer that stays connected): silent, at most `seconds`, the further words, the URL.
std::vector<std::string> curlCommand(const std::string& url,
                                     const std::vector<std::string>& words = {}, int seconds = 20);

/// curl words for a digest-authenticated request with a JSON body (none when body is
/// empty), the body written to bodyFile first: for curl()'s options.
std::string digestJson(const std::string& credentials, const std::string& method,
                       const std::string& body, const std::string& bodyFile);

/// A socket on every interface that holds an ephemeral port for its scope, so that a
/// program under test finds the port taken: a TCP listener, or a bound UDP socket.
class TakenPort {
public:
    enum class Kind { TcpListener, Udp };
    explicit TakenPort(Kind kind = Kind::TcpListener);
    ~TakenPort();
    TakenPort(const TakenPort&) = delete;
    TakenPort& operator=(const TakenPort&) = delete;

    /// The port held, 0 when the listener could not be made.
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

/// A private network namespace with a veth pair: "eth0" inside, with the given address, and
/// its peer "eth0p" in a second private namespace, so that the inside link is up without
/// touching the host's network. Each side has a default route through the other and a
/// multicast route. Tests skip themselves when namespaces cannot be created (not root).
class NetNamespace {
public:
    /// insideAddress in CIDR form, for example "192.168.77.10/24".
    explicit NetNamespace(const std::string& insideAddress = "192.168.77.10/24",
                          const std::string& peerAddress = "192.168.77.1/24");
    ~NetNamespace();
    NetNamespace(const NetNamespace&) = delete;
    NetNamespace& operator=(const NetNamespace&) = delete;

    /// False when the namespaces could not be made; reason() tells why.
    bool ok() const { return m_ok; }
    const std::string& reason() const { return m_reason; }
    /// Names for "ip netns exec".
    const std::string& name() const { return m_name; }
    const std::string& peerName() const { return m_peer; }
    /// Prefix that runs a command line inside ("ip netns exec NAME ").
    std::string execPrefix() const { return "ip netns exec " + m_name + " "; }
    std::string peerExecPrefix() const { return "ip netns exec " + m_peer + " "; }

    /// Whether this machine can make namespaces at all.
    static bool available(std::string* why = nullptr);

private:
    std::string m_name;
    std::string m_peer;
    bool m_ok = false;
    std::string m_reason;
};

}  // namespace testsupport
