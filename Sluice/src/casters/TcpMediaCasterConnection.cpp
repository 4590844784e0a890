#include "TcpMediaCasterConnection.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/util.h>

#include <time.h>

#include <chrono>
#include <cstdio>

#include "CLog.h"
#include "LibrarySettings.h"
#include "Socket.h"

namespace av {

namespace {

// Milliseconds of the kernel's tick-based monotonic clock: this runs twice per block and
// client, where the precise clock cost a tenth of the caster's time, and the report it
// feeds is about delays of 21 ms and more (the clock steps by a few milliseconds).
int64_t coarseMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

TcpMediaCasterConnection::~TcpMediaCasterConnection() = default;

int TcpMediaCasterConnection::onOpen(int) {
    bufferevent* bev = getBufferEvent();
    bufferevent_setwatermark(bev, EV_WRITE, kLowWatermark, m_maxBuffered);
    const evutil_socket_t fd = bufferevent_getfd(bev);
    evutil_make_socket_nonblocking(fd);

    // Borrowed only: the bufferevent owns the descriptor.
    comn::Socket socket;
    socket.attach(fd);
    const int sendBuffer = LibrarySettings::sendBufferSize();
    if (sendBuffer > 0) {
        socket.setSendBufferSize(sendBuffer);
    }
    const SocketAddress peer = socket.getPeerName();
    socket.detach();
    char name[64];
    std::snprintf(name, sizeof name, "%s:%d", peer.getIp().c_str(), peer.getPort());
    m_peerName = name;
    m_peerAddress = peer.getIp();
    m_peerPort = peer.getPort();
    m_connectedSinceUs = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    return 0;
}

void TcpMediaCasterConnection::onClose() {
    CLog::debug("%s(%s) onClose stream%s\n", className(), m_peerName.c_str(), m_streamName.c_str());
    bufferevent* bev = getBufferEvent();
    if (bev != nullptr) {
        bufferevent_lock(bev);
        m_waiting.clear();  // the blocks are let go as soon as the client is gone
        m_waitingBytes = 0;
        endJamEpisode();
        bufferevent_unlock(bev);
    }
}

void TcpMediaCasterConnection::onWrite(bufferevent* bev) {
    handOver(bev);
}

void TcpMediaCasterConnection::onRead(bufferevent* bev) {
    // Never interpreted, only discarded: kept, a client's bytes would grow the input buffer
    // without limit.
    evbuffer* input = bufferevent_get_input(bev);
    evbuffer_drain(input, evbuffer_get_length(input));
}

void TcpMediaCasterConnection::onEvent(bufferevent* bev, short events) {
    if ((events & BEV_EVENT_ERROR) != 0) {
        ++m_errors;
        m_lastErrno = EVUTIL_SOCKET_ERROR();
    }
    TcpConnection::onEvent(bev, events);
}

DestinationStats TcpMediaCasterConnection::destinationStats() {
    DestinationStats stats;
    stats.address = m_peerAddress;
    stats.port = m_peerPort;
    stats.connectedSinceUs = m_connectedSinceUs;
    stats.counters.datagrams = m_blocks;
    stats.counters.bytes = m_bytes;
    stats.counters.sendErrors = m_errors;
    stats.counters.lastErrno = m_lastErrno;
    stats.counters.dropped = m_dropped;
    stats.counters.jamEpisodes = m_jams;
    bufferevent* bev = getBufferEvent();
    if (bev != nullptr) {
        bufferevent_lock(bev);
        stats.counters.backlogBytes = backlog(bev);
        bufferevent_unlock(bev);
    }
    return stats;
}

void TcpMediaCasterConnection::onMediaFormat(const MediaCasterConfig& config) {
    m_config = config;
}

void TcpMediaCasterConnection::onMediaEvent(int) {}

void TcpMediaCasterConnection::onMediaPacket(std::shared_ptr<MediaPacket> packet) {
    if (packet != nullptr) {
        deliver(packet, true);
    }
}

void TcpMediaCasterConnection::queueMediaPacket(const std::shared_ptr<MediaPacket>& packet) {
    if (packet != nullptr) {
        deliver(packet, false);
    }
}

void TcpMediaCasterConnection::deliver(const std::shared_ptr<MediaPacket>& packet,
                                       bool handOverNow) {
    const int64_t started = coarseMs();
    if (readyToSend()) {
        send(packet, handOverNow);
    }
    const int64_t elapsed = coarseMs() - started;
    if (elapsed >= kSlowSendMs) {
        CLog::warning("%s::onMediaPacket elapse too much. pkt type:%c, elapse:%d\n", className(),
                      packet->isVideo() ? 'V' : 'A', static_cast<int>(elapsed));
    }
}

void TcpMediaCasterConnection::handOverWaiting() {
    bufferevent* bev = getBufferEvent();
    if (bev == nullptr || isClosing()) {
        return;
    }
    bufferevent_lock(bev);
    handOver(bev);
    bufferevent_unlock(bev);
}

namespace {

// Releases one client's hold on a block once libevent has sent or discarded its bytes.
void releaseBlock(const void*, size_t, void* hold) {
    delete static_cast<std::shared_ptr<const MediaPacket>*>(hold);
}

}  // namespace

size_t TcpMediaCasterConnection::backlog(bufferevent* bev) const {
    return evbuffer_get_length(bufferevent_get_output(bev)) + m_waitingBytes;
}

bool TcpMediaCasterConnection::reference(bufferevent* bev,
                                         const std::shared_ptr<const MediaPacket>& packet) {
    auto* hold = new std::shared_ptr<const MediaPacket>(packet);
    if (evbuffer_add_reference(bufferevent_get_output(bev), packet->data, packet->size,
                               &releaseBlock, hold) != 0) {
        delete hold;
        return false;
    }
    return true;
}

void TcpMediaCasterConnection::handOver(bufferevent* bev) {
    evbuffer* output = bufferevent_get_output(bev);
    while (!m_waiting.empty() && evbuffer_get_length(output) < kHandOver) {
        const std::shared_ptr<const MediaPacket> packet = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_waitingBytes -= packet->size;
        reference(bev, packet);
    }
}

void TcpMediaCasterConnection::send(const std::shared_ptr<MediaPacket>& packet, bool handOverNow) {
    bufferevent* bev = getBufferEvent();
    if (bev == nullptr || isClosing()) {
        return;
    }
    bufferevent_lock(bev);
    sendLocked(bev, packet, handOverNow);
    bufferevent_unlock(bev);
}

void TcpMediaCasterConnection::endJamEpisode() {
    m_overLimit.end();
    const uint64_t dropped = m_jamDrops.end();
    if (dropped > 0) {
        CLog::warning("%s(%s) dropped %llu blocks while jammed\n", className(), m_peerName.c_str(),
                      static_cast<unsigned long long>(dropped));
    }
}

void TcpMediaCasterConnection::sendLocked(bufferevent* bev,
                                          const std::shared_ptr<MediaPacket>& packet,
                                          bool handOverNow) {
    const size_t buffered = backlog(bev);
    if (buffered > m_maxBuffered) {
        ++m_dropped;
        m_jamDrops.occur();
        if (!m_jammed.exchange(true)) {
            ++m_jams;
            CLog::warning("%s(%s) is jamming. buffer size: %d\n", className(), m_peerName.c_str(),
                          static_cast<int>(buffered));
            bufferevent_enable(bev, EV_WRITE);
        } else if (m_overLimit.occur()) {
            CLog::warning("evbuffer cache is too much. cache:%d, drop:%d\n",
                          static_cast<int>(buffered), static_cast<int>(m_queue.dropToLastKey()));
        }
        return;
    }
    if (buffered <= m_maxBuffered / 4) {
        if (m_jammed.exchange(false)) {
            CLog::warning("%s(%s) resume from jam: buffer size%d\n", className(),
                          m_peerName.c_str(), static_cast<int>(buffered));
            endJamEpisode();
        }
    } else if (m_jammed.load()) {
        ++m_dropped;
        m_jamDrops.occur();
        return;  // still draining: whole blocks are dropped, so the stream stays parseable
    }
    // Every client shares the one copy of the block (no copy per client); the block lives
    // until the last client has sent or dropped it.
    if (handOverNow && m_waiting.empty() &&
        evbuffer_get_length(bufferevent_get_output(bev)) < kHandOver) {
        if (!reference(bev, packet)) {
            return;
        }
    } else {
        m_waiting.push_back(packet);
        m_waitingBytes += packet->size;
    }
    ++m_blocks;
    m_bytes += packet->size;
}

}  // namespace av
