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
    /// Binds 127.0.0.1:0, or the given address and port (for example a multicast group).
    UdpReceiver();
    ~UdpReceiver();
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    uint16_t port() const { return m_port; }
    /// Waits until the socket has nothing left to read (what was sent is then collected).
    bool waitQuiet();
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
    std::vector<std::string> m_datagrams;
    std::thread m_thread;
};

}  // namespace sluicetest
