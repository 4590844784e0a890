#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

struct bufferevent;

namespace av {

class TcpConnectionOwner;

/// One accepted client of a TcpServer: its descriptor, its owner (the server, reached only
/// through TcpConnectionOwner) and its bufferevent
/// (which owns the descriptor). Subclasses override the hooks.
///
/// Lifecycle: created by the server's createConnection, set up, accepted by onOpen, entered
/// in the server's table, released exactly once (peer closed, error, removeConnection,
/// closeAllConnections or the server's destruction), destroyed with its last reference.
///
/// Threads: the bufferevent callbacks (onRead, onWrite, onEvent) run on the server's event
/// loop with the bufferevent's lock held; they must never take the server's table lock,
/// so a connection that wants to end asks for it with requestClose() and the loop releases
/// it later. close() and release() run with the table lock held (or on a connection that
/// never entered a table). A released connection has no bufferevent and writes nothing.
class TcpConnection {
public:
    TcpConnection() = default;
    /// Closes nothing: the server releases its connections before dropping them.
    virtual ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    /// Called once after setup, on the loop thread. 0 accepts the client, anything else
    /// refuses it (the server then frees the bufferevent, which closes the socket).
    virtual int onOpen(int fd);
    /// Called once when the connection closes, just before its bufferevent goes.
    virtual void onClose();
    virtual void onWrite(bufferevent* bev);
    virtual void onRead(bufferevent* bev);
    /// End of stream or an error (BEV_EVENT_EOF, BEV_EVENT_ERROR): requestClose().
    /// Anything else is ignored.
    virtual void onEvent(bufferevent* bev, short events);

    /// serial tells this connection apart from a later one that gets the same descriptor.
    void setup(int fd, TcpConnectionOwner* owner, bufferevent* bev, uint64_t serial);
    uint64_t serial() const { return m_serial; }
    /// The client's IPv4 address (network order), as the server accepted it.
    void setPeerAddress(uint32_t address) { m_peerAddress = address; }
    uint32_t peerAddress() const { return m_peerAddress; }
    /// Read it under the table lock: release() clears it.
    bufferevent* getBufferEvent() const { return m_bev; }
    /// The descriptor while set up, -1 once released.
    int getFd() const { return m_fd; }
    bool isReleased() const { return m_owner == nullptr; }

    /// onClose(), then release(); nothing on a connection already released, so onClose
    /// runs once at most. Table lock held.
    void close();
    /// Shuts the socket down (the peer sees the end at once), frees the bufferevent
    /// (which closes the descriptor) and detaches the connection from its server.
    /// Nothing when already released. Table lock held; the caller has taken the
    /// connection out of the table.
    void release();

protected:
    /// From a bufferevent callback: the loop thread releases this connection and removes it
    /// from the table as soon as the callback has returned. Once only; later calls do
    /// nothing.
    void requestClose();
    /// True once requestClose() was called: writing to the client is pointless.
    bool isClosing() const { return m_closing.load(); }
    /// Sets bev's read time-out to what is left until deadline (at least 1 us). libevent's
    /// read time-out restarts with every read, so a request's one deadline is set anew
    /// after each: a client that trickles bytes gets no more time than a silent one.
    static void setReadDeadline(bufferevent* bev, std::chrono::steady_clock::time_point deadline);

private:
    int m_fd = -1;
    TcpConnectionOwner* m_owner = nullptr;
    bufferevent* m_bev = nullptr;
    // Told apart from a later connection that gets the same descriptor number.
    uint64_t m_serial = 0;
    uint32_t m_peerAddress = 0;
    std::atomic<bool> m_closing{false};
};

}  // namespace av
