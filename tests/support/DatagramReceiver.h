#pragma once
// A Unix datagram socket bound at a path, with a thread that hands every datagram to a
// callback: the receiving end of a local datagram link, played by a test.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace testsupport {

class DatagramReceiver {
public:
    /// Called on the receive thread with each datagram (at most 2048 bytes are kept).
    using Handler = std::function<void(const uint8_t* data, size_t size)>;

    /// Binds path (removing a stale file first) and starts the receive thread. The handler
    /// runs until the destructor returns, so an owner declares its receiver after every
    /// member the handler touches.
    DatagramReceiver(const std::string& path, Handler handler);
    /// Stops and joins the thread, closes the socket and removes the path.
    ~DatagramReceiver();
    DatagramReceiver(const DatagramReceiver&) = delete;
    DatagramReceiver& operator=(const DatagramReceiver&) = delete;

    /// False when the socket could not be bound.
    bool ok() const { return m_fd >= 0; }

    /// Sends one datagram from the bound socket to peerPath; true when all of it was sent.
    bool sendTo(const std::string& peerPath, const void* data, size_t size) const;

private:
    void receiveLoop();

    int m_fd = -1;
    std::string m_path;
    Handler m_handler;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace testsupport
