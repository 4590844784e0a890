#include "RtmpServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "TestSupport.h"

namespace sluicetest {
namespace {

int listenLoopback(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

bool accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// Waits for a connection on fd while stop is unset; -1 when stopped.
int acceptUntil(int fd, const std::atomic<bool>& stop) {
    while (!stop) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) == 1) {
            return accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        }
    }
    return -1;
}

}  // namespace

int pickFreePort() {
    int port = 0;
    const int fd = listenLoopback(port);
    if (fd < 0) {
        return 0;
    }
    ::close(fd);
    return port;
}

NginxRtmp::NginxRtmp(const std::string& onPublish) : m_onPublish(onPublish) {}

std::string NginxRtmp::url(const std::string& stream) const {
    return "rtmp://127.0.0.1:" + std::to_string(m_port) + "/live/" + stream;
}

std::string NginxRtmp::errorLog() const {
    return testsupport::readFile(m_dir.file("error.log"));
}

bool NginxRtmp::start() {
    if (m_port == 0) {
        m_port = pickFreePort();
    }
    const std::string notify = m_onPublish.empty() ? "" : "on_publish " + m_onPublish + ";";
    testsupport::writeFile(m_dir.file("nginx.conf"),
                           "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n"
                           "daemon off;\nmaster_process off;\n"
                           "error_log " +
                               m_dir.file("error.log") +
                               " info;\n"
                               "pid " +
                               m_dir.file("nginx.pid") +
                               ";\n"
                               "events { worker_connections 64; }\n"
                               "rtmp { server { listen 127.0.0.1:" +
                               std::to_string(m_port) +
                               ";\n"
                               "  application live { live on; record off; " +
                               notify + " } } }\n");
    m_process = std::make_unique<testsupport::ChildProcess>();
    if (!m_process->start({"nginx", "-p", m_dir.path(), "-e", m_dir.file("error.log"), "-c",
                           m_dir.file("nginx.conf")})) {
        return false;
    }
    return testsupport::waitFor([this] { return accepts(m_port); }, std::chrono::seconds(10));
}

void NginxRtmp::stop() {
    if (m_process != nullptr) {
        m_process->stop();
        m_process.reset();
    }
}

bool makeTestCa(const std::string& dir, const std::string& name, std::string& error) {
    testsupport::writeFile(dir + "/ca.tmpl", "cn = \"" + name +
                                                 " test CA\"\nca\ncert_signing_key\n"
                                                 "expiration_days = 2\n");
    testsupport::writeFile(dir + "/server.tmpl",
                           "cn = \"127.0.0.1\"\ndns_name = \"localhost\"\nip_address = "
                           "\"127.0.0.1\"\ntls_www_server\nencryption_key\nsigning_key\n"
                           "expiration_days = 2\n");
    const std::string q = "'" + dir + "/";
    const std::string commands = "certtool --generate-privkey --outfile " + q +
                                 "ca.key' && certtool --generate-self-signed "
                                 "--load-privkey " +
                                 q + "ca.key' --template " + q + "ca.tmpl' --outfile " + q +
                                 "ca.pem' && certtool --generate-privkey --outfile " + q +
                                 "server.key' && certtool "
                                 "--generate-certificate --load-privkey " +
                                 q + "server.key' --load-ca-certificate " + q +
                                 "ca.pem' --load-ca-privkey " + q + "ca.key' --template " + q +
                                 "server.tmpl' --outfile " + q + "server.pem'";
    std::string output;
    if (testsupport::shell(commands + " 2>&1", &output) != 0) {
        error = output;
        return false;
    }
    return true;
}

TlsFront::TlsFront(int backendPort, const std::string& certFile, const std::string& keyFile)
    : m_backendPort(backendPort), m_certFile(certFile), m_keyFile(keyFile) {}

bool TlsFront::start() {
    m_port = pickFreePort();
    const std::string config = m_process.dir().file("stunnel.conf");
    testsupport::writeFile(
        config, "foreground = yes\npid =\n[rtmps]\naccept = 127.0.0.1:" + std::to_string(m_port) +
                    "\nconnect = 127.0.0.1:" + std::to_string(m_backendPort) +
                    "\ncert = " + m_certFile + "\nkey = " + m_keyFile + "\n");
    return m_process.start({"stunnel4", config}) &&
           testsupport::waitFor([this] { return accepts(m_port); }, std::chrono::seconds(10));
}

HttpAnswerer::HttpAnswerer(int status) : m_status(status) {
    m_fd = listenLoopback(m_port);
    m_thread = std::thread([this] {
        for (;;) {
            const int client = acceptUntil(m_fd, m_stop);
            if (client < 0) {
                return;
            }
            char buffer[4096];
            std::string request;
            while (request.find("\r\n\r\n") == std::string::npos) {
                pollfd p{client, POLLIN, 0};
                const ssize_t n = poll(&p, 1, 2000) == 1 ? read(client, buffer, sizeof buffer) : 0;
                if (n <= 0) {
                    break;
                }
                request.append(buffer, static_cast<size_t>(n));
            }
            ++m_requests;
            const std::string answer = "HTTP/1.1 " + std::to_string(m_status) +
                                       " Answer\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            (void)!write(client, answer.data(), answer.size());
            ::close(client);
        }
    });
}

HttpAnswerer::~HttpAnswerer() {
    m_stop = true;
    m_thread.join();
    ::close(m_fd);
}

SilentServer::SilentServer() {
    m_fd = listenLoopback(m_port);
    m_thread = std::thread([this] {
        std::vector<int> held;
        for (int client; (client = acceptUntil(m_fd, m_stop)) >= 0;) {
            held.push_back(client);
            ++m_accepted;
        }
        for (const int fd : held) {
            ::close(fd);
        }
    });
}

SilentServer::~SilentServer() {
    m_stop = true;
    m_thread.join();
    ::close(m_fd);
}

}  // namespace sluicetest
