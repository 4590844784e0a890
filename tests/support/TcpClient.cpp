#include "TcpClient.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "TestSupport.h"

namespace sluicetest {
namespace {

// The casters write to clients that may have gone; sluice_init makes that an error return
// instead of a signal, and these tests drive the classes without it.
const bool g_noSigpipe = [] {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}();

}  // namespace

TcpClient::TcpClient(uint16_t port, int receiveBuffer, bool reading, const char* from) {
    m_paused = !reading;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    if (receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (from != nullptr) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = inet_addr(from);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            ::close(fd);
            return;
        }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return;
    }
    m_fd = fd;
    m_thread = std::thread([this] { loop(); });
}

TcpClient::~TcpClient() {
    close();
}

std::string TcpClient::name() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    return "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

bool TcpClient::send(const std::string& bytes) {
    return m_fd >= 0 && ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                            static_cast<ssize_t>(bytes.size());
}

size_t TcpClient::unsent() const {
    int queued = 0;
    ::ioctl(m_fd, SIOCOUTQ, &queued);
    return static_cast<size_t>(queued);
}

std::string TcpClient::received() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

size_t TcpClient::receivedSize() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received.size();
}

bool TcpClient::waitForSize(size_t bytes, std::chrono::milliseconds timeout) {
    return testsupport::waitFor([&] { return receivedSize() >= bytes; }, timeout,
                                std::chrono::milliseconds(1));
}

bool TcpClient::waitForClose(std::chrono::milliseconds timeout) {
    return testsupport::waitFor([&] { return closedByServer(); }, timeout);
}

void TcpClient::close(bool reset) {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_fd >= 0) {
        if (reset) {
            const linger abort{1, 0};
            ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        ::close(m_fd);
        m_fd = -1;
    }
}

void TcpClient::loop() {
    char buffer[65536];
    while (!m_stop && !m_closed) {
        const size_t room = m_limit - std::min<size_t>(m_limit, receivedSize());
        if (m_paused || room == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) {
            continue;
        }
        const ssize_t n = ::recv(m_fd, buffer, std::min(sizeof buffer, room), 0);
        if (n > 0) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_received.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            m_closed = true;
        }
    }
}

}  // namespace sluicetest
