#pragma once
// A datagram receiver on 127.0.0.1 with an ephemeral port, drained by its own thread so a
// burst from a caster never overflows the socket buffer.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sluicetest {

class UdpReceiver {
public:
    /// One datagram and the last byte of the address it was sent to (127.0.0.x).
    struct Arrival {
        int host;
        std::string bytes;
    };

    /// Binds 127.0.0.1 on an ephemeral port; with anyLocalAddress every local address, so
    /// that several loopback targets (127.0.0.2, .3) on one port arrive here in send order.
    explicit UdpReceiver(bool anyLocalAddress = false);
    ~UdpReceiver();
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    uint16_t port() const { return m_port; }
    /// Waits until the socket has nothing left to read (what was sent is then collected).
    bool waitQuiet();
    std::vector<Arrival> arrivals();
    std::vector<std::string> datagrams();
    /// Every datagram's bytes after skipping `header` bytes, concatenated.
    std::string joined(size_t header = 0);

private:
    void loop();

    int m_fd = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_busy{false};
    std::mutex m_mutex;
    std::vector<Arrival> m_arrivals;
    std::thread m_thread;
};

}  // namespace sluicetest
