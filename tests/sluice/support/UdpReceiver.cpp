#include "UdpReceiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "TestSupport.h"

namespace sluicetest {

UdpReceiver::UdpReceiver() {
    m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    int size = 8 * 1024 * 1024;  // room for a whole test clip, where the system allows it
    if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        throw std::runtime_error("UdpReceiver: bind failed");
    }
    socklen_t length = sizeof addr;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &length);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { loop(); });
}

UdpReceiver::~UdpReceiver() {
    m_stop = true;
    m_thread.join();
    ::close(m_fd);
}

void UdpReceiver::loop() {
    std::string buffer(65536, '\0');
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) {
            continue;
        }
        m_busy = true;
        const ssize_t n = ::recv(m_fd, buffer.data(), buffer.size(), 0);
        if (n >= 0) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_datagrams.emplace_back(buffer.data(), static_cast<size_t>(n));
        }
        m_busy = false;
    }
}

bool UdpReceiver::waitQuiet() {
    return testsupport::waitFor([this] {
        int pending = 0;
        ::ioctl(m_fd, FIONREAD, &pending);
        return pending == 0 && !m_busy;
    });
}

std::vector<std::string> UdpReceiver::datagrams() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_datagrams;
}

std::string UdpReceiver::joined(size_t header) {
    std::string all;
    for (const std::string& d : datagrams()) {
        if (d.size() > header) {
            all.append(d, header, std::string::npos);
        }
    }
    return all;
}

}  // namespace sluicetest
