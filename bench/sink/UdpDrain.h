#pragma once

#include <string>
#include <vector>

#include "DrainStats.h"

/// Datagram receivers on 127.0.0.1, one socket each on a port of the kernel's choice, drained
/// with recvmmsg. The caller polls the descriptors and calls onReadable.
class UdpDrain {
public:
    UdpDrain() = default;
    ~UdpDrain();
    UdpDrain(const UdpDrain&) = delete;
    UdpDrain& operator=(const UdpDrain&) = delete;

    /// Opens count sockets. rtp: every datagram carries a 12-byte RTP header that is not
    /// payload. receiveBuffer: SO_RCVBUF wanted (forced past the system limit when allowed),
    /// so that a receiver that is briefly descheduled does not lose datagrams.
    bool open(int count, bool rtp, int receiveBuffer, DrainStats& stats, std::string& error);
    std::vector<int> ports() const;
    const std::vector<int>& descriptors() const { return m_fds; }

    /// Reads every datagram waiting on socket index.
    void onReadable(size_t index, DrainStats& stats);
    /// Adds the kernel's drop counters of our sockets (from /proc/net/udp) to stats.
    void countDrops(DrainStats& stats) const;

private:
    std::vector<int> m_fds;
    std::vector<int> m_ports;
    std::vector<unsigned long> m_inodes;
    bool m_rtp = false;
};
