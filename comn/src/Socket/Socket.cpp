#include "Socket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cassert>
#include <csignal>

namespace comn {

bool Socket::open(int type) {
    assert(!isOpen());
    const int fd = ::socket(AF_INET, type, 0);
    m_fd = fd < 0 ? -1 : fd;
    return isOpen();
}

void Socket::close() {
    if (!isOpen()) {
        return;
    }
    ::shutdown(m_fd, SHUT_RDWR);
    ::close(m_fd);
    m_fd = -1;
}

int Socket::detach() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

int Socket::bind(const SocketAddress& address) {
    return ::bind(m_fd, address.get(), address.length());
}

int Socket::sendTo(const void* data, size_t length, int flags, const SocketAddress& address) {
    return static_cast<int>(::sendto(m_fd, data, length, flags, address.get(), address.length()));
}

bool Socket::setSendBufferSize(int bytes) {
    return ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) == 0;
}

SocketAddress Socket::getPeerName() const {
    SocketAddress address("0.0.0.0", 0);
    SocketAddress peer("0.0.0.0", 0);
    if (::getpeername(m_fd, peer.get(), peer.lengthPtr()) == 0) {
        address = peer;
    }
    return address;
}

SocketAddress Socket::getSockName() const {
    SocketAddress address("0.0.0.0", 0);
    SocketAddress local("0.0.0.0", 0);
    if (::getsockname(m_fd, local.get(), local.lengthPtr()) == 0) {
        address = local;
    }
    return address;
}

bool Socket::startup() {
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &previous);
    if (previous.sa_handler != SIG_DFL) {
        ::sigaction(SIGPIPE, &previous, nullptr);  // the host process's own choice wins
    }
    return true;
}

void Socket::cleanup() {
    struct sigaction deflt {};
    struct sigaction previous {};
    deflt.sa_handler = SIG_DFL;
    sigemptyset(&deflt.sa_mask);
    ::sigaction(SIGPIPE, &deflt, &previous);
    if (previous.sa_handler != SIG_IGN) {
        ::sigaction(SIGPIPE, &previous, nullptr);  // only our ignore setting is undone
    }
}

}  // namespace comn
