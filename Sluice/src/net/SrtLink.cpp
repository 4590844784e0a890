#include "SrtLink.h"

#include <cerrno>
#include <chrono>
#include <utility>

namespace av {
namespace {

int64_t wallClockUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

SrtLink::SrtLink(SRTSOCKET socket, std::string address, uint16_t port)
    : m_socket(socket),
      m_address(std::move(address)),
      m_port(port),
      m_connectedSinceUs(wallClockUs()) {}

void SrtLink::push(const Block& block) {
    if (m_socket == SRT_INVALID_SOCK) {
        return;
    }
    if (m_queue.size() >= kQueueCapacity) {
        m_queuedBytes -= m_queue.front()->size;
        m_queue.pop_front();
        ++m_counters.dropped;
    }
    m_queue.push_back(block);
    m_queuedBytes += block->size;
}

bool SrtLink::flush(int64_t dueByNs, size_t limit, size_t& handed) {
    handed = 0;
    while (!m_queue.empty() && handed < limit && m_queue.front()->dueNs <= dueByNs) {
        const Block& block = m_queue.front();
        SRT_MSGCTRL control = srt_msgctrl_default;
        const int sent = srt_sendmsg2(m_socket, reinterpret_cast<const char*>(block->bytes),
                                      static_cast<int>(block->size), &control);
        if (sent == SRT_ERROR) {
            if (srt_getlasterror(nullptr) == SRT_EASYNCSND) {
                return true;  // libsrt's buffer is full: the rest waits in our queue
            }
            ++m_counters.sendErrors;
            m_counters.lastErrno = ECONNRESET;
            return false;
        }
        ++handed;
        ++m_counters.datagrams;
        m_counters.bytes += block->size;
        m_queuedBytes -= block->size;
        m_queue.pop_front();
    }
    return true;
}

bool SrtLink::alive() const {
    return m_socket != SRT_INVALID_SOCK && srt_getsockstate(m_socket) == SRTS_CONNECTED;
}

SRTSOCKET SrtLink::release() {
    const SRTSOCKET socket = m_socket;
    m_socket = SRT_INVALID_SOCK;
    m_counters.dropped += m_queue.size();
    m_queue.clear();
    m_queuedBytes = 0;
    return socket;
}

SrtLinkStats SrtLink::stats() const {
    SrtLinkStats stats;
    stats.address = m_address;
    stats.port = m_port;
    stats.counters = m_counters;
    stats.counters.backlogBytes = m_queuedBytes;
    if (m_socket == SRT_INVALID_SOCK) {
        return stats;
    }
    stats.connectedSinceUs = m_connectedSinceUs;
    SRT_TRACEBSTATS perf{};
    if (srt_bistats(m_socket, &perf, 0, 1) == 0) {
        stats.hasTransport = true;
        stats.rttUs = static_cast<int>(perf.msRTT * 1000.0);
        stats.lost = perf.pktSndLossTotal > 0 ? static_cast<uint64_t>(perf.pktSndLossTotal) : 0;
        stats.retransmitted =
            perf.pktRetransTotal > 0 ? static_cast<uint64_t>(perf.pktRetransTotal) : 0;
        // Too late to send: libsrt dropped them, so the peer never got them either.
        if (perf.pktSndDropTotal > 0) {
            stats.counters.dropped += static_cast<uint64_t>(perf.pktSndDropTotal);
        }
        stats.sendRateBps =
            perf.mbpsSendRate > 0 ? static_cast<uint64_t>(perf.mbpsSendRate * 1e6) : 0;
        if (perf.byteSndBuf > 0) {
            stats.counters.backlogBytes += static_cast<uint64_t>(perf.byteSndBuf);
        }
        int latency = 0;
        int length = sizeof latency;
        if (srt_getsockflag(m_socket, SRTO_PEERLATENCY, &latency, &length) == 0) {
            stats.latencyMs = latency;
        }
    }
    return stats;
}

}  // namespace av
