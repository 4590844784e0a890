#include "SrtTsMediaCaster.h"

#include <cerrno>
#include <cstdlib>

#include "CLog.h"
#include "sluice.h"

namespace av {

SrtTsMediaCaster::~SrtTsMediaCaster() {
    SrtTsMediaCaster::close();
}

int SrtTsMediaCaster::open(const std::string& ip, uint16_t port, const MediaCasterConfig& config) {
    CLog::debug("SrtTsMediaCaster(%d) open. ip:%s port:%d\n", getId(), ip.c_str(), port);
    logFormat(config);
    comn::AutoLock lock(mutex());
    close();
    m_sender.setId(id());
    const int started = m_sender.start(port > 0 ? port : SrtSender::kNoListener);
    if (started != 0) {
        return started;
    }
    const int status = openMuxer(config);
    if (status != 0) {
        closeMuxer();
        m_sender.stop();
    }
    return status;
}

void SrtTsMediaCaster::close() {
    comn::AutoLock lock(mutex());
    closeMuxer();  // its last blocks are queued like any other
    m_sender.stop();
}

bool SrtTsMediaCaster::isOpen() {
    comn::AutoLock lock(mutex());
    return m_sender.isRunning();
}

bool SrtTsMediaCaster::addTarget(const std::string& ip, uint16_t port) {
    comn::AutoLock lock(mutex());
    if (!BasicTsMediaCaster::addTarget(ip, port)) {
        return false;
    }
    m_sender.setId(id());
    m_sender.addTarget(NetAddress(ip, port));
    return true;
}

void SrtTsMediaCaster::removeTarget(const std::string& ip, uint16_t port) {
    comn::AutoLock lock(mutex());
    BasicTsMediaCaster::removeTarget(ip, port);
    m_sender.removeTarget(NetAddress(ip, port));
}

void SrtTsMediaCaster::removeAllTarget() {
    comn::AutoLock lock(mutex());
    BasicTsMediaCaster::removeAllTarget();
    m_sender.removeAllTargets();
}

int SrtTsMediaCaster::setOption(const std::string& name, const std::string& value) {
    if (name == "listen") {
        return listen(value);
    }
    if (name == "muxrate") {
        const int set = setMuxRateOption(value);
        if (set == 0) {
            m_sender.setStreamRate(muxRate());
        }
        return set;
    }
    const int status = m_sender.setOption(name, value);
    if (status != 0) {
        CLog::warning("(%d) SRT option %s refused\n", id(), name.c_str());
    } else if (name == "passphrase") {
        CLog::debug("(%d) SRT passphrase %s\n", id(), value.empty() ? "cleared" : "set");
    } else {
        CLog::debug("(%d) SRT option %s:%s\n", id(), name.c_str(), value.c_str());
    }
    return status;
}

int SrtTsMediaCaster::listen(const std::string& value) {
    char* end = nullptr;
    const long port = std::strtol(value.c_str(), &end, 10);
    comn::AutoLock lock(mutex());
    if (value.empty() || *end != '\0' || port < 0 || port > 65535 || !m_sender.isRunning()) {
        CLog::warning("(%d) SRT option listen refused\n", id());
        return EINVAL;
    }
    // The sender listens only from its start: restart it; the targets are kept and reconnect.
    // libsrt stays up meanwhile (its last cleanup would tear down its global state).
    srt_startup();
    m_sender.stop();
    int status = m_sender.start(static_cast<int>(port));
    if (status == 0) {
        CLog::debug("(%d) SRT listening on port %d\n", id(), m_sender.listenPort());
    } else {
        m_sender.start(SrtSender::kNoListener);
        status = EINVAL;
    }
    srt_cleanup();
    return status;
}

uint16_t SrtTsMediaCaster::localPort() {
    return m_sender.listenPort();
}

bool SrtTsMediaCaster::write(int type, const uint8_t* data, int size, int64_t pts, int duration,
                             int flags) {
    const bool taken = BasicTsMediaCaster::write(type, data, size, pts, duration, flags);
    m_sender.wake();
    return taken;
}

void SrtTsMediaCaster::onMuxData(const uint8_t* data, size_t size, int64_t, int) {
    // Blocks written outside write() (the multiplexer's trailer on close) are handed on by
    // the sender's stop, which sends what is queued.
    m_sender.push(data, size, false);
}

std::vector<DestinationStats> SrtTsMediaCaster::destinationStats() {
    std::vector<DestinationStats> all;
    const uint64_t overruns = muxOverruns();
    for (const SrtLinkStats& link : m_sender.stats()) {
        DestinationStats stats;
        stats.protocol = SLUICE_PROTOCOL_SRT;
        stats.address = link.address;
        stats.port = link.port;
        stats.connectedSinceUs = link.connectedSinceUs;
        stats.counters = link.counters;
        stats.overruns = overruns;
        stats.hasTransport = link.hasTransport;
        stats.rttUs = link.rttUs;
        stats.lostPackets = link.lost;
        stats.retransmittedPackets = link.retransmitted;
        stats.sendRateBps = link.sendRateBps;
        stats.latencyMs = link.latencyMs;
        all.push_back(std::move(stats));
    }
    return all;
}

}  // namespace av
