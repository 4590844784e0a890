#include "MediaPeer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "MediaMessage.h"

namespace ksim {
namespace {

// The same buffer sizes as Quillon's end of the link.
constexpr int kSocketBufferBytes = 102400;

bool fillAddress(sockaddr_un& address, const std::string& path) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return true;
}

}  // namespace

MediaPeer::~MediaPeer() {
    close();
}

bool MediaPeer::open(const std::string& serverPath, const std::string& clientPath,
                     std::string& why) {
    close();
    sockaddr_un own{};
    if (!fillAddress(own, serverPath) || !fillAddress(m_client, clientPath)) {
        why = "socket path too long for a Unix address: " + serverPath;
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::string("cannot create the media link socket: ") + std::strerror(errno);
        return false;
    }
    ::unlink(serverPath.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&own), sizeof own) != 0) {
        why = "cannot bind " + serverPath + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    const int bytes = kSocketBufferBytes;
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0) {
        why = std::string("cannot size the media link buffers: ") + std::strerror(errno);
        ::close(fd);
        ::unlink(serverPath.c_str());
        return false;
    }
    m_fd = fd;
    m_serverPath = serverPath;
    return true;
}

void MediaPeer::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlink(m_serverPath.c_str());
        m_fd = -1;
    }
}

bool MediaPeer::sendRecord(int code, const void* payload, size_t length) {
    if (m_fd < 0) {
        return false;
    }
    std::vector<uint8_t> datagram(enc::kMediaHeaderSize + length, 0);
    enc::MediaMessage header{};
    std::memcpy(header.magic, "HT_V", 4);
    header.code = code;
    header.length = static_cast<int32_t>(length);
    header.length2 = header.length;
    std::memcpy(datagram.data(), &header, sizeof header);
    if (length > 0) {
        std::memcpy(datagram.data() + enc::kMediaHeaderSize, payload, length);
    }
    const ssize_t sent = ::sendto(m_fd, datagram.data(), datagram.size(), MSG_DONTWAIT,
                                  reinterpret_cast<const sockaddr*>(&m_client), sizeof m_client);
    return sent == static_cast<ssize_t>(datagram.size());
}

bool MediaPeer::receiveCode(int timeoutMs, int* code) {
    if (m_fd < 0) {
        return false;
    }
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) {
        return false;
    }
    uint8_t buffer[enc::kMediaReceiveBufferSize];
    const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < static_cast<ssize_t>(offsetof(enc::MediaMessage, code) + sizeof(int32_t))) {
        return false;
    }
    int32_t value = 0;
    std::memcpy(&value, buffer + offsetof(enc::MediaMessage, code), sizeof value);
    *code = value;
    return true;
}

}  // namespace ksim
