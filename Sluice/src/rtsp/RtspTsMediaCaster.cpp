#include "RtspTsMediaCaster.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "CLog.h"
#include "RtspTransport.h"
#include "sluice.h"

namespace av {

namespace {

int64_t monotonicUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

}  // namespace

RtspTsMediaCaster::~RtspTsMediaCaster() {
    RtspTsMediaCaster::close();
}

int RtspTsMediaCaster::open(const std::string&, uint16_t port, const MediaCasterConfig& config) {
    CLog::debug("RtspTsMediaCaster(%d) open. port:%d\n", getId(), port);
    logFormat(config);
    close();
    comn::AutoLock lock(mutex());
    auto packetizer = std::make_unique<RtpPacketizer>(config);
    if (packetizer->trackCount() == 0) {
        CLog::warning("RtspTsMediaCaster(%d) no stream RTSP can carry (video %d, audio %d)\n",
                      getId(), config.videoCodec, config.audioCodec);
        return ENODEV;
    }
    RtspStreamInfo info;
    info.trackCount = packetizer->trackCount();
    for (int track = 0; track < info.trackCount; ++track) {
        info.clockRate[track] = packetizer->clockRate(track);
        info.payloadType[track] = packetizer->payloadType(track);
        info.isVideo[track] = track == packetizer->videoTrack();
    }
    int status = 0;
    std::shared_ptr<RtspServer> server = RtspServer::acquire(port, status);
    if (server == nullptr) {
        return status;
    }
    auto mount = std::make_shared<RtspMount>("/", getId(), info);
    mount->setSdpMedia(packetizer->sdpMedia());
    // "/" until the path option names another; when another stream of the port has "/",
    // this one waits unmounted for its path (the main and the sub stream open side by side).
    if (server->mount(mount, "/") != 0) {
        CLog::debug("RtspTsMediaCaster(%d) port %d: \"/\" is taken; served once it has a path\n",
                    getId(), port);
    }
    m_server = std::move(server);
    m_mount = std::move(mount);
    m_packetizer = std::move(packetizer);
    return 0;
}

void RtspTsMediaCaster::close() {
    std::shared_ptr<RtspServer> server;
    std::shared_ptr<RtspMount> mount;
    {
        comn::AutoLock lock(mutex());
        server = std::move(m_server);
        mount = std::move(m_mount);
        m_server.reset();
        m_mount.reset();
        m_packetizer.reset();
    }
    if (server != nullptr) {
        server->unmount(mount);
    }
    // The last caster of the port lets go of the server here, which stops it.
}

bool RtspTsMediaCaster::isOpen() {
    comn::AutoLock lock(mutex());
    return m_server != nullptr;
}

uint16_t RtspTsMediaCaster::port() {
    comn::AutoLock lock(mutex());
    return m_server == nullptr ? 0 : m_server->port();
}

std::shared_ptr<RtspServer> RtspTsMediaCaster::server() {
    comn::AutoLock lock(mutex());
    return m_server;
}

void RtspTsMediaCaster::removeAllTarget() {
    BasicTsMediaCaster::removeAllTarget();
}

int RtspTsMediaCaster::setOption(const std::string& name, const std::string& value) {
    std::shared_ptr<RtspServer> server;
    std::shared_ptr<RtspMount> mount;
    {
        comn::AutoLock lock(mutex());
        server = m_server;
        mount = m_mount;
    }
    if (server == nullptr) {
        return EINVAL;
    }
    if (name == "path") {
        return server->remount(mount, value);
    }
    if (name == "auth_file") {
        if (value.size() > 4096) {
            return EINVAL;
        }
        server->configure(mount, [&](RtspMountSettings& s) { s.authFile = value; });
        return 0;
    }
    int number_ = 0;
    if (name == "max_sessions" && rtspNumber(value, 1, 1024, number_)) {
        server->configure(mount, [&](RtspMountSettings& s) { s.maxSessions = number_; });
        return 0;
    }
    if (name == "session_timeout" && rtspNumber(value, 1, 3600, number_)) {
        server->configure(mount, [&](RtspMountSettings& s) { s.timeoutSeconds = number_; });
        return 0;
    }
    if (name == "multicast") {
        // "GROUP:PORT" with an IPv4 multicast group and an even port, or "" for none.
        std::string group;
        int groupPort = 0;
        if (!value.empty()) {
            const size_t colon = value.rfind(':');
            in_addr address{};
            if (colon == std::string::npos ||
                inet_pton(AF_INET, value.substr(0, colon).c_str(), &address) != 1 ||
                !IN_MULTICAST(ntohl(address.s_addr)) ||
                !rtspNumber(value.substr(colon + 1), 1024, 65532, groupPort) ||
                groupPort % 2 != 0) {
                return EINVAL;
            }
            group = value.substr(0, colon);
        }
        server->configure(mount, [&](RtspMountSettings& s) {
            s.multicastGroup = group;
            s.multicastPort = groupPort;
        });
        return 0;
    }
    if (name == "multicast_ttl" && rtspNumber(value, 1, 255, number_)) {
        server->configure(mount, [&](RtspMountSettings& s) { s.multicastTtl = number_; });
        return 0;
    }
    if (name == "udp_ports") {
        const size_t dash = value.find('-');
        int first = 0;
        int last = 0;
        if (dash != std::string::npos && rtspNumber(value.substr(0, dash), 1024, 65535, first) &&
            rtspNumber(value.substr(dash + 1), 1024, 65535, last) &&
            server->setUdpPorts(first, last)) {
            return 0;
        }
    }
    return EINVAL;
}

bool RtspTsMediaCaster::write(int type, const uint8_t* data, int size, int64_t pts, int, int) {
    comn::AutoLock lock(mutex());
    if (m_packetizer == nullptr || size <= 0) {
        return false;
    }
    const size_t length = static_cast<size_t>(size);
    std::shared_ptr<RtpFrame> frame =
        type == 0 ? m_packetizer->video(data, length, pts) : m_packetizer->audio(data, length, pts);
    if (frame == nullptr) {
        return type == 0;
    }
    if (frame->key) {
        // Parameter sets may have changed (or been seen for the first time).
        m_mount->setSdpMedia(m_packetizer->sdpMedia());
    }
    if (!m_mount->publish(std::move(frame), monotonicUs())) {
        if (m_inboxDrops++ == 0) {
            CLog::warning("RtspTsMediaCaster(%d) the server falls behind: frames dropped\n",
                          getId());
        }
    }
    m_server->wake();
    return true;
}

std::vector<DestinationStats> RtspTsMediaCaster::destinationStats() {
    std::shared_ptr<RtspServer> server;
    std::shared_ptr<RtspMount> mount;
    {
        comn::AutoLock lock(mutex());
        server = m_server;
        mount = m_mount;
    }
    if (server == nullptr) {
        return {};
    }
    std::vector<DestinationStats> rows = server->stats(mount);
    for (DestinationStats& row : rows) {
        row.protocol = SLUICE_PROTOCOL_RTSP;
    }
    return rows;
}

}  // namespace av
