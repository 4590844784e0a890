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

std::string FlvMount::name() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_name;
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
    : HttpOutTsMediaCaster("HTTP-FLV", kNeedsH264, std::make_shared<FlvMount>(kDefaultName)),
      m_flv(std::make_shared<FlvTagMuxer>(static_cast<FlvTagSink&>(*this))),
      m_mount(std::static_pointer_cast<FlvMount>(mount())) {
    m_muxer->setSink(nullptr);
    m_muxer = m_flv;  // frames become FLV tags, not transport stream
}

FlvTsMediaCaster::~FlvTsMediaCaster() {
    FlvTsMediaCaster::close();
}

void FlvTsMediaCaster::onFlvTag(const std::shared_ptr<MediaPacket>& tag) {
    HttpOutServer* server = serving();
    if (server == nullptr) {
        return;
    }
    const std::shared_ptr<MediaPacket> header = m_flv->header();
    server->forEachFlvClient(m_mount.get(), [&](HttpOutConnection& client) {
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
    HttpOutServer* server = serving();
    if (server == nullptr) {
        return rows;
    }
    server->forEachFlvClient(m_mount.get(), [&rows](HttpOutConnection& client) {
        DestinationStats row = client.destinationStats();
        row.protocol = SLUICE_PROTOCOL_FLV;
        row.state = SLUICE_STATE_SERVING;
        row.frames = row.counters.datagrams;
        row.framesDropped = row.counters.dropped;
        rows.push_back(std::move(row));
    });
    return rows;
}

}  // namespace av
