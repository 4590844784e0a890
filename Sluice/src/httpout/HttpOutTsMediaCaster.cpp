#include "HttpOutTsMediaCaster.h"

#include <cerrno>

#include "CLog.h"
#include "HttpOutPath.h"
#include "sluice.h"

namespace av {

HttpOutTsMediaCaster::HttpOutTsMediaCaster(const char* label, const char* failure,
                                           std::shared_ptr<HttpOutMount> mount)
    : m_label(label), m_muxFailure(failure), m_mount(std::move(mount)) {}

HttpOutTsMediaCaster::~HttpOutTsMediaCaster() {
    HttpOutTsMediaCaster::close();
}

int HttpOutTsMediaCaster::open(const std::string& ip, uint16_t port,
                               const MediaCasterConfig& config) {
    logFormat(config);
    int status = 0;
    std::shared_ptr<HttpOutServer> server = HttpOutServer::acquire(ip, port, status);
    if (server == nullptr) {
        CLog::error("%s(%d) port %d is taken or cannot be listened on\n", m_label, getId(), port);
        return status;
    }
    comn::AutoLock lock(mutex());
    m_server = server;
    m_failure.clear();
    if (openMuxer(config) != 0) {
        m_failure = m_muxFailure;
        CLog::error("%s(%d) not served: %s (video codec %d)\n", m_label, getId(), m_muxFailure,
                    config.videoCodec);
        return 0;
    }
    m_mounted = m_server->mount(m_mount) == 0;
    if (!m_mounted) {
        CLog::warning("%s(%d) %s is taken on port %d; served once a path is set\n", m_label,
                      getId(), m_mount->key().c_str(), m_server->port());
    }
    return 0;
}

void HttpOutTsMediaCaster::close() {
    std::shared_ptr<HttpOutServer> server;
    comn::AutoLock lock(mutex());
    closeMuxer();
    server.swap(m_server);
    if (server != nullptr && m_mounted) {
        server->unmount(m_mount);
    }
    m_mounted = false;
    onClosed();
}

bool HttpOutTsMediaCaster::isOpen() {
    comn::AutoLock lock(mutex());
    return m_server != nullptr;
}

uint16_t HttpOutTsMediaCaster::localPort() {
    comn::AutoLock lock(mutex());
    return m_server == nullptr ? 0 : m_server->port();
}

std::shared_ptr<HttpOutServer> HttpOutTsMediaCaster::server() {
    comn::AutoLock lock(mutex());
    return m_server;
}

int HttpOutTsMediaCaster::setOption(const std::string& name, const std::string& value) {
    comn::AutoLock lock(mutex());
    if (name == "path") {
        std::string path;
        if (!normaliseOutputPath(value, path)) {
            CLog::warning("%s(%d) path %s refused\n", m_label, getId(), value.c_str());
            return EINVAL;
        }
        const std::string old = m_mount->name();
        const bool serving = m_server != nullptr && m_failure.empty();
        if (serving && m_mounted) {
            m_server->unmount(m_mount);
        }
        m_mount->setName(path);
        if (serving) {
            m_mounted = m_server->mount(m_mount) == 0;
            if (!m_mounted) {
                m_mount->setName(old);
                m_mounted = m_server->mount(m_mount) == 0;
                CLog::warning("%s(%d) path %s is taken\n", m_label, getId(), path.c_str());
                return EEXIST;
            }
        }
        CLog::info("%s(%d) served at %s\n", m_label, getId(), m_mount->key().c_str());
        return 0;
    }
    if (m_server != nullptr && m_server->setClientLimit(name, value) == 0) {
        return 0;
    }
    CLog::warning("%s(%d) option %s refused\n", m_label, getId(), name.c_str());
    return EINVAL;
}

OutputStatus HttpOutTsMediaCaster::outputStatus() {
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
