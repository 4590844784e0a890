#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>

namespace av {

/// Several datagrams for one UDP socket, sent with one sendmmsg, each to the socket's peer or
/// to a destination of its own. A run of datagrams of one size for one destination (the last
/// of the run may be shorter) travels as one message that the kernel cuts (UDP_SEGMENT): one
/// pass through the stack instead of one per packet, which is most of a UDP sender's cost. A
/// kernel or route that refuses it turns it off for this batch and the datagrams go one
/// message each. Each datagram is a head and a body, both kept alive by the caller until
/// send(). Not thread-safe; reused frame after frame without allocating.
class DatagramBatch {
public:
    static constexpr size_t kMaxDatagrams = 128;

    struct Result {
        size_t sent = 0;  // datagrams the kernel took
        size_t lost = 0;  // datagrams refused (error holds the last reason)
        int error = 0;
    };

    /// False when the batch is full: send it, then add again. to: the datagram's destination
    /// (copied), or null for the connected socket's peer.
    bool add(const void* head, size_t headSize, const void* body, size_t bodySize,
             const sockaddr_in* to = nullptr);
    size_t size() const { return m_count; }
    bool segmenting() const { return m_segment; }

    /// Sends and empties the batch. Every datagram is either sent or counted lost.
    Result send(int fd);
    /// After send(): the result of the index-th datagram added, 0 sent whole or the errno
    /// (EMSGSIZE when the kernel took less).
    int error(size_t index) const { return m_errors[index]; }

private:
    /// Messages for datagrams [first, m_count): runs of one size become one message when
    /// segmenting. Returns the number of messages.
    size_t plan(size_t first);

    // Linux takes at most 64 segments per message and a datagram of at most 64 KiB.
    static constexpr size_t kMaxSegments = 64;
    static constexpr size_t kMaxMessageBytes = 65000;

    struct Message {
        size_t first = 0;      // first datagram
        size_t count = 0;      // datagrams in it
        uint16_t segment = 0;  // UDP_SEGMENT size, 0 for a single datagram
    };

    bool sameDestination(size_t a, size_t b) const;

    iovec m_parts[2 * kMaxDatagrams] = {};
    size_t m_sizes[kMaxDatagrams] = {};
    sockaddr_in m_to[kMaxDatagrams] = {};
    bool m_hasTo[kMaxDatagrams] = {};
    int m_errors[kMaxDatagrams] = {};
    size_t m_count = 0;
    Message m_messages[kMaxDatagrams];
    mmsghdr m_headers[kMaxDatagrams] = {};
    alignas(cmsghdr) uint8_t m_control[kMaxDatagrams][CMSG_SPACE(sizeof(uint16_t))] = {};
    bool m_segment = true;
    size_t m_singleUntil = 0;  // datagrams before it go one message each (a run that failed)
};

}  // namespace av
