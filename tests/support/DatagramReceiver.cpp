#include "DatagramReceiver.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace testsupport {
namespace {

// How often the receive loop looks at its stop flag.
constexpr int kStopCheckMs = 50;

sockaddr_un unixAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

}  // namespace

DatagramReceiver::DatagramReceiver(const std::string& path, Handler handler)
    : m_path(path), m_handler(std::move(handler)) {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    const sockaddr_un address = unixAddress(path);
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return;
    }
    m_fd = fd;
    m_thread = std::thread([this] { receiveLoop(); });
}

DatagramReceiver::~DatagramReceiver() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlink(m_path.c_str());
    }
}

void DatagramReceiver::receiveLoop() {
    uint8_t buffer[2048];
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, kStopCheckMs) <= 0) {
            continue;
        }
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n >= 0) {
            m_handler(buffer, static_cast<size_t>(n));
        }
    }
}

bool DatagramReceiver::sendTo(const std::string& peerPath, const void* data, size_t size) const {
    const sockaddr_un peer = unixAddress(peerPath);
    return ::sendto(m_fd, data, size, 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) ==
           static_cast<ssize_t>(size);
}

}  // namespace testsupport
