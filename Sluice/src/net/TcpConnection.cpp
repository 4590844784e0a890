#include "TcpConnection.h"

#include <algorithm>

#include <event2/bufferevent.h>
#include <event2/event.h>
#include <sys/socket.h>

#include "TcpConnectionOwner.h"

namespace av {

TcpConnection::~TcpConnection() = default;

int TcpConnection::onOpen(int) {
    return 0;
}

void TcpConnection::onClose() {}

void TcpConnection::onWrite(bufferevent*) {}

void TcpConnection::onRead(bufferevent*) {}

void TcpConnection::onEvent(bufferevent*, short events) {
    if ((events & (BEV_EVENT_EOF | BEV_EVENT_ERROR)) != 0) {
        requestClose();
    }
}

void TcpConnection::setup(int fd, TcpConnectionOwner* owner, bufferevent* bev, uint64_t serial) {
    m_fd = fd;
    m_owner = owner;
    m_bev = bev;
    m_serial = serial;
}

void TcpConnection::close() {
    if (isReleased()) {
        return;
    }
    onClose();
    release();
}

void TcpConnection::release() {
    if (m_owner == nullptr) {
        return;
    }
    if (m_bev != nullptr) {
        // The descriptor closes only when libevent finalises the bufferevent, on the loop
        // thread (or when the event base goes); shutting it down first lets the client see
        // the end now. The descriptor is still owned by the bufferevent, so its number
        // cannot have been handed to another socket yet.
        const evutil_socket_t fd = bufferevent_getfd(m_bev);
        if (fd >= 0) {
            ::shutdown(fd, SHUT_RDWR);
        }
        bufferevent_disable(m_bev, EV_READ | EV_WRITE);
        bufferevent_free(m_bev);
        m_bev = nullptr;
    }
    m_owner = nullptr;
    m_fd = -1;
}

void TcpConnection::requestClose() {
    if (m_closing.exchange(true) || m_owner == nullptr) {
        return;
    }
    m_owner->requestRemoval(m_fd, m_serial);
}

void TcpConnection::setReadDeadline(bufferevent* bev,
                                    std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        deadline - std::chrono::steady_clock::now());
    const int64_t us = std::max<int64_t>(left.count(), 1);
    const timeval timeout{static_cast<time_t>(us / 1000000),
                          static_cast<suseconds_t>(us % 1000000)};
    bufferevent_set_timeouts(bev, &timeout, nullptr);
}

}  // namespace av
