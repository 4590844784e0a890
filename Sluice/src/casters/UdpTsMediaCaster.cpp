#include "UdpTsMediaCaster.h"

#include <netinet/in.h>

#include <cerrno>

#include "CLog.h"
#include "LibrarySettings.h"
#include "OptionValue.h"
#include "sluice.h"

namespace av {

UdpTsMediaCaster::~UdpTsMediaCaster() {
    UdpTsMediaCaster::close();
}

void UdpTsMediaCaster::logOpen(const std::string& ip, uint16_t port) {
    CLog::debug("UdpTsMediaCaster(%d) open. ip:%s port:%d\n", getId(), ip.c_str(), port);
}

int UdpTsMediaCaster::protocol() const {
    return SLUICE_PROTOCOL_UDP;
}

std::vector<DestinationStats> UdpTsMediaCaster::destinationStats() {
    std::vector<DestinationStats> all;
    const uint64_t overruns = muxOverruns();
    for (const DatagramFanout::Stats& target : m_sender.stats()) {
        DestinationStats stats;
        stats.protocol = protocol();
        stats.address = target.address.ip();
        stats.port = target.address.port();
        stats.counters = target.counters;
        stats.overruns = overruns;
        all.push_back(std::move(stats));
    }
    return all;
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
    if (!m_sender.start(m_socket.fd())) {
        m_socket.close();
        return ENODEV;
    }
    return openMuxer(config);
}

void UdpTsMediaCaster::close() {
    comn::AutoLock lock(mutex());
    closeMuxer();  // the trailer is queued like any block
    m_sender.stop(true);
    m_socket.close();
}

bool UdpTsMediaCaster::isOpen() {
    comn::AutoLock lock(mutex());
    return m_socket.isOpen();
}

SocketAddress UdpTsMediaCaster::localAddress() {
    comn::AutoLock lock(mutex());
    return m_socket.isOpen() ? m_socket.getSockName() : SocketAddress("0.0.0.0", 0);
}

bool UdpTsMediaCaster::addTarget(const std::string& ip, uint16_t port) {
    // Resolved here, once, before the lock: a slow name server delays only this call, never
    // sluice_write (which takes the same lock) nor the other targets.
    DatagramFanout::Destination destination;
    destination.address = NetAddress(ip, port);
    destination.socketAddress = SocketAddress(ip, port).in();
    destination.resolved =
        destination.socketAddress.sin_addr.s_addr != htonl(INADDR_ANY) || ip == "0.0.0.0";
    comn::AutoLock lock(mutex());
    const bool added = BasicTsMediaCaster::addTarget(ip, port);
    if (added) {
        if (!destination.resolved) {
            CLog::warning("(%d) target %s does not resolve: nothing is sent to it\n", id(),
                          ip.c_str());
        }
        m_sender.addDestination(destination);
    }
    return added;
}

void UdpTsMediaCaster::removeTarget(const std::string& ip, uint16_t port) {
    comn::AutoLock lock(mutex());
    BasicTsMediaCaster::removeTarget(ip, port);
    m_sender.removeDestination(NetAddress(ip, port));
}

void UdpTsMediaCaster::removeAllTarget() {
    comn::AutoLock lock(mutex());
    BasicTsMediaCaster::removeAllTarget();
    m_sender.setDestinations({});
}

int UdpTsMediaCaster::setOption(const std::string& name, const std::string& value) {
    if (name == "priority") {
        int64_t priority = -1;
        if (!parseOptionInteger(value, priority) || priority < 0 || priority > 99) {
            CLog::warning("(%d) option priority refused\n", id());
            return EINVAL;
        }
        const int status = m_sender.setPriority(static_cast<int>(priority));
        if (status != 0) {
            CLog::warning("(%d) real-time priority %d refused by the system (errno %d)\n", id(),
                          static_cast<int>(priority), status);
        }
        return status;
    }
    if (name == "gather_us") {
        int64_t gather = -1;
        if (!parseOptionInteger(value, gather) || gather < 0 || gather > kMaxGatherUs) {
            CLog::warning("(%d) option gather_us refused\n", id());
            return EINVAL;
        }
        m_sender.setGather(gather * 1000);
        return 0;
    }
    if (name != "muxrate") {
        return EINVAL;
    }
    const int status = setMuxRateOption(value);
    if (status == 0) {
        m_sender.setStreamRate(muxRate());
    }
    return status;
}

void UdpTsMediaCaster::onMuxData(const uint8_t* data, size_t size, int64_t, int) {
    comn::AutoLock lock(mutex());
    sendToTargets(nullptr, 0, data, size);
}

void UdpTsMediaCaster::sendToTargets(const uint8_t* header, size_t headerSize, const uint8_t* data,
                                     size_t size) {
    if (!m_socket.isOpen()) {
        return;
    }
    m_sender.push(header, headerSize, data, size);
}

void UdpTsMediaCaster::onSendFailed(const NetAddress& target, size_t size, int) {
    logSendFailure(target, size);
}

void UdpTsMediaCaster::onQueueOverflow(bool begins, uint64_t dropped) {
    if (begins) {
        CLog::warning("(%d) send queue full: dropping the oldest datagrams\n", id());
    } else {
        CLog::warning("(%d) send queue drained: %llu datagrams dropped\n", id(),
                      static_cast<unsigned long long>(dropped));
    }
}

}  // namespace av
