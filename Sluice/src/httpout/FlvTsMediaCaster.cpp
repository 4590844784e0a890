#include "FlvTsMediaCaster.h"

#include <cerrno>

#include "CLog.h"
#include "HttpOutPath.h"
#include "sluice.h"

namespace av {

std::string FlvMount::key() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_name + ".flv";
}

void FlvMount::setName(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_name = name;
}

bool FlvMount::serve(const std::string& path, uint32_t, bool head, HttpOutReply& reply) {
    if (path != key()) {
        return false;
    }
    reply.head = HttpOutHead::stream("video/x-flv");
    if (!head) {
        reply.flvStream = this;
    }
    return true;
}

FlvTsMediaCaster::FlvTsMediaCaster()
    : m_flv(std::make_shared<FlvTagMuxer>(static_cast<FlvTagSink&>(*this))),
      m_mount(std::make_shared<FlvMount>(kDefaultName)) {
    m_muxer->setSink(nullptr);
    m_muxer = m_flv;  // frames become FLV tags, not transport stream
}

FlvTsMediaCaster::~FlvTsMediaCaster() {
    FlvTsMediaCaster::close();
}

int FlvTsMediaCaster::open(const std::string& ip, uint16_t port, const MediaCasterConfig& config) {
    logFormat(config);
    int status = 0;
    std::shared_ptr<HttpOutServer> server = HttpOutServer::acquire(ip, port, status);
    if (server == nullptr) {
        CLog::error("HTTP-FLV(%d) port %d is taken or cannot be listened on\n", getId(), port);
        return status;
    }
    comn::AutoLock lock(mutex());
    m_server = server;
    m_failure.clear();
    if (openMuxer(config) != 0) {
        m_failure = kNeedsH264;
        CLog::error("HTTP-FLV(%d) not served: %s (video codec %d)\n", getId(), kNeedsH264,
                    config.videoCodec);
        return 0;
    }
    m_mounted = m_server->mount(m_mount) == 0;
    if (!m_mounted) {
        CLog::warning("HTTP-FLV(%d) %s is taken on port %d; served once a path is set\n", getId(),
                      m_mount->key().c_str(), m_server->port());
    }
    return 0;
}

void FlvTsMediaCaster::close() {
    std::shared_ptr<HttpOutServer> server;
    comn::AutoLock lock(mutex());
    closeMuxer();
    server.swap(m_server);
    if (server != nullptr && m_mounted) {
        server->unmount(m_mount);
    }
    m_mounted = false;
}

bool FlvTsMediaCaster::isOpen() {
    comn::AutoLock lock(mutex());
    return m_server != nullptr;
}

uint16_t FlvTsMediaCaster::localPort() {
    comn::AutoLock lock(mutex());
    return m_server == nullptr ? 0 : m_server->port();
}

std::shared_ptr<HttpOutServer> FlvTsMediaCaster::server() {
    comn::AutoLock lock(mutex());
    return m_server;
}

int FlvTsMediaCaster::setOption(const std::string& name, const std::string& value) {
    comn::AutoLock lock(mutex());
    if (name == "path") {
        std::string path;
        if (!normaliseOutputPath(value, path)) {
            CLog::warning("HTTP-FLV(%d) path %s refused\n", getId(), value.c_str());
            return EINVAL;
        }
        const std::string old = m_mount->key();
        const bool serving = m_server != nullptr && m_failure.empty();
        if (serving && m_mounted) {
            m_server->unmount(m_mount);
        }
        m_mount->setName(path);
        if (serving) {
            m_mounted = m_server->mount(m_mount) == 0;
            if (!m_mounted) {
                m_mount->setName(old.substr(0, old.size() - 4));
                m_mounted = m_server->mount(m_mount) == 0;
                CLog::warning("HTTP-FLV(%d) path %s is taken\n", getId(), path.c_str());
                return EEXIST;
            }
        }
        CLog::info("HTTP-FLV(%d) served at %s.flv\n", getId(), path.c_str());
        return 0;
    }
    if (m_server != nullptr && m_server->setClientLimit(name, value) == 0) {
        return 0;
    }
    CLog::warning("HTTP-FLV(%d) option %s refused\n", getId(), name.c_str());
    return EINVAL;
}

void FlvTsMediaCaster::onFlvTag(const std::shared_ptr<MediaPacket>& tag) {
    if (m_server == nullptr || !m_mounted) {
        return;
    }
    const std::shared_ptr<MediaPacket> header = m_flv->header();
    m_server->forEachFlvClient(m_mount.get(), [&](HttpOutConnection& client) {
        if (!client.flvStarted()) {
            if (!tag->isKey() || header == nullptr) {
                return;  // a client starts at a key frame
            }
            client.sendFlv(header);
            client.setFlvStarted();
        }
        if (client.isJammed()) {
            client.setFlvAwaitsKey(true);  // tags are being lost: resume at a key frame
        }
        if (client.flvAwaitsKey() && !tag->isKey()) {
            return;
        }
        client.sendFlv(tag);
        client.handOverWaiting();
        client.setFlvAwaitsKey(client.isJammed());  // still jammed: the key frame was lost too
    });
}

std::vector<DestinationStats> FlvTsMediaCaster::destinationStats() {
    comn::AutoLock lock(mutex());
    std::vector<DestinationStats> rows;
    if (m_server == nullptr) {
        return rows;
    }
    m_server->forEachFlvClient(m_mount.get(), [&rows](HttpOutConnection& client) {
        DestinationStats row = client.destinationStats();
        row.protocol = SLUICE_PROTOCOL_FLV;
        row.state = SLUICE_STATE_SERVING;
        row.frames = row.counters.datagrams;
        row.framesDropped = row.counters.dropped;
        rows.push_back(std::move(row));
    });
    return rows;
}

OutputStatus FlvTsMediaCaster::outputStatus() {
    OutputStatus status = TsMediaCaster::outputStatus();
    comn::AutoLock lock(mutex());
    if (!m_failure.empty()) {
        status.state = SLUICE_STATE_FAILED;
        status.lastErrno = ENODEV;
        status.stateText = m_failure;
    } else if (m_server != nullptr && !m_mounted) {
        status.state = SLUICE_STATE_FAILED;
        status.lastErrno = EEXIST;
        status.stateText = m_mount->key() + " is taken on this port";
    }
    return status;
}

}  // namespace av
