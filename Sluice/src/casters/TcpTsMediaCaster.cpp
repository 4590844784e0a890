#include "TcpTsMediaCaster.h"

#include <cerrno>
#include <cstring>

#include "CLog.h"
#include "OptionValue.h"
#include "sluice.h"

namespace av {

TcpTsMediaCaster::~TcpTsMediaCaster() {
    TcpTsMediaCaster::close();
}

int TcpTsMediaCaster::open(const std::string& ip, uint16_t port, const MediaCasterConfig& config) {
    CLog::debug("%s(%d) open. ip:%s port:%d\n", casterName(), getId(), ip.c_str(), port);
    logFormat(config);
    if (!TcpServer::open(ip, port)) {
        CLog::warning("%s(%d) cannot listen on port %d: %s\n", casterName(), getId(), port,
                      std::strerror(errno));
        return ENOENT;
    }
    openMuxer(config);  // a multiplexer that fails leaves the caster listening, silent
    return 0;
}

void TcpTsMediaCaster::close() {
    // Not under the caster's mutex: the loop thread takes it to set up a new client, and
    // stopping waits for the loop.
    TcpServer::close();
    comn::AutoLock lock(mutex());
    closeMuxer();
    handOverAll();  // the multiplexer's last blocks
    resetConfig();
}

bool TcpTsMediaCaster::isOpen() {
    return TcpServer::isOpen();
}

void TcpTsMediaCaster::removeAllTarget() {
    comn::AutoLock lock(mutex());
    BasicTsMediaCaster::removeAllTarget();
    closeAllConnections();
}

int TcpTsMediaCaster::setOption(const std::string& name, const std::string& value) {
    if (name == "muxrate") {
        return setMuxRateOption(value);
    }
    int64_t count = 0;
    if ((name != "maxclients" && name != "maxperaddress") || !parseOptionInteger(value, count) ||
        count < 1 || count > kMaxClientsOption) {
        CLog::warning("%s(%d) option %s refused\n", casterName(), getId(), name.c_str());
        return EINVAL;
    }
    if (name == "maxclients") {
        setMaxClients(static_cast<size_t>(count));
    } else {
        setMaxClientsPerAddress(static_cast<size_t>(count));
    }
    CLog::debug("%s(%d) option %s:%s\n", casterName(), getId(), name.c_str(), value.c_str());
    return 0;
}

void TcpTsMediaCaster::onMuxData(const uint8_t* data, size_t size, int64_t pts, int flags) {
    auto packet = std::make_shared<MediaPacket>();
    packet->assign(data, size);
    packet->pts = pts;
    packet->flags = flags;
    deliver(packet);
}

void TcpTsMediaCaster::deliver(const std::shared_ptr<MediaPacket>& packet) {
    if (m_inWrite) {
        queueForAll(packet);  // handed over when the frame is done
    } else {
        broadcast(packet);
    }
}

bool TcpTsMediaCaster::write(int type, const uint8_t* data, int size, int64_t pts, int duration,
                             int flags) {
    comn::AutoLock lock(mutex());  // the frame's blocks and their hand-over as one unit
    m_inWrite = true;
    const bool taken = BasicTsMediaCaster::write(type, data, size, pts, duration, flags);
    m_inWrite = false;
    handOverAll();
    return taken;
}

void TcpTsMediaCaster::queueForAll(const std::shared_ptr<MediaPacket>& packet) {
    connections().forEach([&packet](int, const std::shared_ptr<TcpConnection>& connection) {
        static_cast<TcpMediaCasterConnection*>(connection.get())->queueMediaPacket(packet);
    });
}

void TcpTsMediaCaster::handOverAll() {
    connections().forEach([](int, const std::shared_ptr<TcpConnection>& connection) {
        static_cast<TcpMediaCasterConnection*>(connection.get())->handOverWaiting();
    });
}

void TcpTsMediaCaster::broadcast(std::shared_ptr<MediaPacket> packet) {
    connections().forEach([&packet](int, const std::shared_ptr<TcpConnection>& connection) {
        // Every connection in the table came from makeConnection.
        static_cast<TcpMediaCasterConnection*>(connection.get())->onMediaPacket(packet);
    });
}

int TcpTsMediaCaster::protocol() const {
    return SLUICE_PROTOCOL_TCP;
}

std::vector<DestinationStats> TcpTsMediaCaster::destinationStats() {
    std::vector<DestinationStats> all;
    const uint64_t overruns = muxOverruns();
    connections().forEach([&](int, const std::shared_ptr<TcpConnection>& connection) {
        DestinationStats stats =
            static_cast<TcpMediaCasterConnection*>(connection.get())->destinationStats();
        stats.protocol = protocol();
        stats.overruns = overruns;
        all.push_back(std::move(stats));
    });
    return all;
}

std::shared_ptr<TcpConnection> TcpTsMediaCaster::createConnection(int) {
    std::shared_ptr<TcpMediaCasterConnection> connection = makeConnection();
    comn::AutoLock lock(mutex());
    connection->onMediaFormat(config());
    return connection;
}

std::shared_ptr<TcpMediaCasterConnection> TcpTsMediaCaster::makeConnection() {
    return std::make_shared<TcpMediaCasterConnection>();
}

void TcpTsMediaCaster::onConnectionClosed(std::shared_ptr<TcpConnection>) {}

}  // namespace av
