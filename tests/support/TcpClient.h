#pragma once
// A TCP client on loopback for the stream caster tests: connects at construction, collects
// what arrives on its own thread (which can be paused to play a stalled client) and notices
// when the server closes the connection.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace sluicetest {

class TcpClient {
public:
    /// Connects to 127.0.0.1:port. receiveBuffer > 0 sets SO_RCVBUF before connecting, so a
    /// paused client holds little in its kernel buffers. from: the local address to connect
    /// from (another loopback address plays another host); null for the default.
    explicit TcpClient(uint16_t port, int receiveBuffer = 0, bool reading = true,
                       const char* from = nullptr);
    /// Closes the socket (an orderly close).
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    bool connected() const { return m_fd >= 0; }
    /// "127.0.0.1:<local port>", as the server names this client.
    std::string name() const;

    void pause() { m_paused = true; }
    void resume() {
        m_limit = SIZE_MAX;
        m_paused = false;
    }
    /// Reads until it has received `total` bytes in all, then holds still again.
    void resumeUpTo(size_t total) {
        m_limit = total;
        m_paused = false;
    }
    bool send(const std::string& bytes);
    /// Bytes sent but not yet acknowledged by the server's side.
    size_t unsent() const;

    std::string received();
    size_t receivedSize();
    /// The server closed the connection (end of stream or reset).
    bool closedByServer() const { return m_closed.load(); }

    bool waitForSize(size_t bytes, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool waitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    /// Ends the connection now: with reset true by RST (SO_LINGER 0), else an orderly close.
    void close(bool reset = false);

private:
    void loop();

    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_paused{false};
    std::atomic<size_t> m_limit{SIZE_MAX};  // resumeUpTo
    std::atomic<bool> m_closed{false};
    std::mutex m_mutex;
    std::string m_received;
    std::thread m_thread;
};

}  // namespace sluicetest
