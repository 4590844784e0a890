#include "HlsTsMediaCaster.h"

#include <cerrno>

#include "CLog.h"
#include "HttpOutPath.h"
#include "OptionValue.h"
#include "sluice.h"

namespace av {

HlsTsMediaCaster::HlsTsMediaCaster() : m_mount(std::make_shared<HlsMount>(kDefaultName)) {
    // The usual multiplexer, cut into segments: its output still reaches onMuxData.
    m_muxer = std::make_shared<SegmentingTsMuxer>(m_muxer, *m_mount);
}

HlsTsMediaCaster::~HlsTsMediaCaster() {
    HlsTsMediaCaster::close();
    closeMuxer();
}

int HlsTsMediaCaster::open(const std::string& ip, uint16_t port, const MediaCasterConfig& config) {
    logFormat(config);
    int status = 0;
    std::shared_ptr<HttpOutServer> server = HttpOutServer::acquire(ip, port, status);
    if (server == nullptr) {
        CLog::error("HLS(%d) port %d is taken or cannot be listened on\n", getId(), port);
        return status;
    }
    comn::AutoLock lock(mutex());
    m_server = server;
    m_mounted = m_server->mount(m_mount) == 0;
    if (!m_mounted) {
        CLog::warning("HLS(%d) %s is taken on port %d; served once a path is set\n", getId(),
                      m_mount->key().c_str(), m_server->port());
    }
    openMuxer(config);
    return 0;
}

void HlsTsMediaCaster::close() {
    std::shared_ptr<HttpOutServer> server;
    {
        comn::AutoLock lock(mutex());
        closeMuxer();
        server.swap(m_server);
        if (server != nullptr && m_mounted) {
            server->unmount(m_mount);
        }
        m_mounted = false;
        m_mount->reset();
    }
}

bool HlsTsMediaCaster::isOpen() {
    comn::AutoLock lock(mutex());
    return m_server != nullptr;
}

uint16_t HlsTsMediaCaster::localPort() {
    comn::AutoLock lock(mutex());
    return m_server == nullptr ? 0 : m_server->port();
}

std::shared_ptr<HttpOutServer> HlsTsMediaCaster::server() {
    comn::AutoLock lock(mutex());
    return m_server;
}

int HlsTsMediaCaster::setOption(const std::string& name, const std::string& value) {
    comn::AutoLock lock(mutex());
    int64_t number = 0;
    if (name == "path") {
        std::string path;
        if (!normaliseOutputPath(value, path)) {
            CLog::warning("HLS(%d) path %s refused\n", getId(), value.c_str());
            return EINVAL;
        }
        const std::string old = m_mount->name();
        if (m_server != nullptr && m_mounted) {
            m_server->unmount(m_mount);
        }
        m_mount->setName(path);
        if (m_server != nullptr) {
            m_mounted = m_server->mount(m_mount) == 0;
            if (!m_mounted) {
                m_mount->setName(old);
                m_mounted = m_server->mount(m_mount) == 0;
                CLog::warning("HLS(%d) path %s is taken\n", getId(), path.c_str());
                return EEXIST;
            }
        }
        CLog::info("HLS(%d) served at %s.m3u8\n", getId(), path.c_str());
        return 0;
    }
    if (name == "window" && parseOptionInteger(value, number) && number >= 2 && number <= 30) {
        m_mount->setWindow(static_cast<int>(number));
        return 0;
    }
    if (name == "segment_ms" && parseOptionInteger(value, number) && number >= 500 &&
        number <= 10000) {
        m_mount->setSegmentMs(static_cast<int>(number));
        return 0;
    }
    if (m_server != nullptr && m_server->setClientLimit(name, value) == 0) {
        return 0;
    }
    CLog::warning("HLS(%d) option %s refused\n", getId(), name.c_str());
    return EINVAL;
}

void HlsTsMediaCaster::onMuxData(const uint8_t* data, size_t size, int64_t, int) {
    m_mount->append(data, size);
}

std::vector<DestinationStats> HlsTsMediaCaster::destinationStats() {
    comn::AutoLock lock(mutex());
    if (m_server == nullptr) {
        return {};
    }
    const HlsMount::Counters counters = m_mount->counters();
    DestinationStats row;
    row.protocol = SLUICE_PROTOCOL_HLS;
    row.address = m_mount->key();
    row.port = m_server->port();
    row.state = m_mounted ? SLUICE_STATE_SERVING : SLUICE_STATE_FAILED;
    row.stateText = m_mounted ? "serving" : "path taken on this port";
    row.requests = counters.requests;
    row.clientsSeen = counters.clientsSeen;
    row.playlistBytes = counters.playlistBytes;
    row.segmentBytes = counters.segmentBytes;
    row.frames = counters.segments;
    row.counters.bytes = counters.playlistBytes + counters.segmentBytes;
    return {row};
}

OutputStatus HlsTsMediaCaster::outputStatus() {
    OutputStatus status = TsMediaCaster::outputStatus();
    comn::AutoLock lock(mutex());
    if (m_server != nullptr && !m_mounted) {
        status.state = SLUICE_STATE_FAILED;
        status.lastErrno = EEXIST;
        status.stateText = m_mount->key() + " is taken on this port";
    }
    return status;
}

}  // namespace av
