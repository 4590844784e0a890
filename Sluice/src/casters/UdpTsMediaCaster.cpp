#include "UdpTsMediaCaster.h"

#include <sys/select.h>

#include <cerrno>

#include "CLog.h"
#include "LibrarySettings.h"

namespace av {

UdpTsMediaCaster::~UdpTsMediaCaster() {
    UdpTsMediaCaster::close();
}

void UdpTsMediaCaster::logOpen(const std::string& ip, uint16_t port) {
    CLog::debug("UdpTsMediaCaster(%d) open. ip:%s port:%d\n", getId(), ip.c_str(), port);
}

int UdpTsMediaCaster::sendBufferSize() const {
    return LibrarySettings::sendBufferSize();
}

void UdpTsMediaCaster::logSendFailure(const NetAddress& target, size_t size) {
    CLog::warning("(%d) sendTo %s:%d failed. size:%d\n", id(), target.ip().c_str(), target.port(),
                  static_cast<int>(size));
}

int UdpTsMediaCaster::open(const std::string& ip, uint16_t port, const MediaCasterConfig& config) {
    logOpen(ip, port);
    logFormat(config);
    comn::AutoLock lock(mutex());
    close();
    if (!m_socket.isOpen() && !m_socket.open(SOCK_DGRAM)) {
        return ENODEV;
    }
    if (m_socket.bind(SocketAddress(ip, port)) != 0) {
        m_socket.close();
        return ENODEV;
    }
    m_socket.setSendBufferSize(sendBufferSize());  // a size the system refuses is ignored
    return openMuxer(config);
}

void UdpTsMediaCaster::close() {
    comn::AutoLock lock(mutex());
    closeMuxer();
    m_socket.close();
    m_sendCount = 0;
}

bool UdpTsMediaCaster::isOpen() {
    comn::AutoLock lock(mutex());
    return m_socket.isOpen();
}

SocketAddress UdpTsMediaCaster::localAddress() {
    comn::AutoLock lock(mutex());
    return m_socket.isOpen() ? m_socket.getSockName() : SocketAddress("0.0.0.0", 0);
}

void UdpTsMediaCaster::onMuxData(const uint8_t* data, size_t size, int64_t, int) {
    comn::AutoLock lock(mutex());
    sendToTargets(data, size);
}

void UdpTsMediaCaster::refreshResolvedTargets() {
    if (m_resolvedVersion == targetsVersion()) {
        return;
    }
    m_resolved.clear();
    for (const NetAddress& target : targets()) {
        m_resolved.emplace_back(target, SocketAddress(target.ip(), target.port()));
    }
    m_resolvedVersion = targetsVersion();
}

void UdpTsMediaCaster::pause() {
    // select() on the socket's exceptional set only: nothing normally arrives there, so the
    // call returns after the time-out.
    fd_set exceptional;
    FD_ZERO(&exceptional);
    FD_SET(m_socket.fd(), &exceptional);
    timeval timeout{0, kPauseMs * 1000};
    ::select(m_socket.fd() + 1, nullptr, nullptr, &exceptional, &timeout);
}

void UdpTsMediaCaster::sendToTargets(const uint8_t* data, size_t size) {
    if (!m_socket.isOpen()) {
        return;
    }
    refreshResolvedTargets();
    for (const auto& [target, address] : m_resolved) {
        if (++m_sendCount > kSendsBetweenPauses) {
            m_sendCount = 0;
            pause();
        }
        const int sent = m_socket.sendTo(data, size, 0, address);
        if (sent < 0 || static_cast<size_t>(sent) != size) {
            logSendFailure(target, size);
        }
    }
    m_sendCount = 0;
}

}  // namespace av
