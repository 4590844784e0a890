#pragma once

#include <srt/srt.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "Datagram.h"
#include "TargetCounters.h"

namespace av {

/// What an SRT peer has been given and what libsrt says about the link.
struct SrtLinkStats {
    std::string address;
    uint16_t port = 0;
    int64_t connectedSinceUs = 0;  // wall clock; 0 while not connected
    TargetCounters counters;
    bool hasTransport = false;  // the fields below come from a connected socket
    int rttUs = 0;
    uint64_t lost = 0;
    uint64_t retransmitted = 0;
    uint64_t sendRateBps = 0;
    int latencyMs = 0;
};

/// One connected SRT socket with its own bounded queue of multiplexer blocks. The blocks are
/// shared by every link (one copy each); a link that cannot take them loses the oldest. A
/// block's due time (Datagram::dueNs) holds it back until then when the sender paces.
///
/// Not thread-safe: the owner (SrtSender) guards it with its lock.
class SrtLink {
public:
    using Block = std::shared_ptr<const Datagram>;

    /// About 1.3 s of an 8 Mbit/s stream (1.35 MB).
    static constexpr size_t kQueueCapacity = 1024;

    /// Takes ownership of a connected socket (closed by close()).
    SrtLink(SRTSOCKET socket, std::string address, uint16_t port);
    SrtLink(const SrtLink&) = delete;
    SrtLink& operator=(const SrtLink&) = delete;

    /// Queues a block; when full, the oldest queued block is dropped and counted.
    void push(const Block& block);
    /// Hands queued blocks to libsrt until it has no room (non-blocking). False when the link
    /// is broken (the socket must then be closed).
    bool flush() {
        size_t handed = 0;
        return flush(INT64_MAX, SIZE_MAX, handed);
    }
    /// The same for at most limit blocks due by dueByNs; handed counts those given to libsrt.
    bool flush(int64_t dueByNs, size_t limit, size_t& handed);
    /// The due time of the first queued block; INT64_MAX when none is queued.
    int64_t nextDueNs() const { return m_queue.empty() ? INT64_MAX : m_queue.front()->dueNs; }
    /// The socket is still connected.
    bool alive() const;
    /// Gives the socket up: the caller closes it (outside its lock). Queued blocks are dropped.
    SRTSOCKET release();

    SRTSOCKET socket() const { return m_socket; }
    /// The peer's dotted address, as given at construction.
    const std::string& address() const { return m_address; }
    /// The link's figures, libsrt's included.
    SrtLinkStats stats() const;
    /// Counters kept across a caller's reconnections.
    const TargetCounters& counters() const { return m_counters; }
    void setCounters(const TargetCounters& counters) { m_counters = counters; }

private:
    SRTSOCKET m_socket;
    std::string m_address;
    uint16_t m_port;
    int64_t m_connectedSinceUs;
    std::deque<Block> m_queue;
    uint64_t m_queuedBytes = 0;
    TargetCounters m_counters;
};

}  // namespace av
