#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "BasicTsMediaCaster.h"
#include "MediaPacket.h"
#include "TcpMediaCasterConnection.h"
#include "TcpServer.h"

namespace av {

/// Casts the raw transport stream, without framing, to every client connected to its TCP
/// port. A client gets the stream from the next block after it connected; nothing is
/// replayed. The target list is kept (addTarget and friends) but never read.
///
/// Threads: frames arrive through write() on the callers' threads (the caster's mutex);
/// every multiplexer block is broadcast from that thread to the connections in the table
/// (caster mutex, then table lock). Clients are accepted and their sockets served by the
/// server's loop thread. Lifecycle: closed after construction; open() listens, starts the
/// loop and opens the multiplexer; close() stops both, and connected clients stay connected
/// (receiving nothing) until removeAllTarget, their own close, or the caster's destruction,
/// which closes their sockets.
///
/// Subclasses call close() in their own destructor: the loop thread calls virtual
/// operations (createConnection, onConnectionClosed) until it has stopped.
class TcpTsMediaCaster : public BasicTsMediaCaster, public TcpServer {
public:
    TcpTsMediaCaster() = default;
    /// close(); the remaining clients' sockets are closed with the server.
    ~TcpTsMediaCaster() override;

    /// Listens on ip (empty: every interface) and port (0: ephemeral, see TcpServer::port)
    /// and opens the multiplexer. 0, or ENOENT when the port cannot be listened on (in use, bad
    /// address). A multiplexer that fails to open does not fail the caster: its frames are
    /// then dropped.
    int open(const std::string& ip, uint16_t port, const MediaCasterConfig& config) override;
    /// Stops listening and the loop, closes the multiplexer and forgets the configuration.
    void close() override;
    bool isOpen() override;
    uint16_t localPort() override { return port(); }
    /// Clears the target list and disconnects every client; new clients may connect after.
    void removeAllTarget() override;
    /// "maxclients" (clients at a time, 1..kMaxClientsOption; default 256) and
    /// "maxperaddress" (clients one address may hold, 1..kMaxClientsOption; default 16), for
    /// the clients that connect afterwards. 0, or EINVAL for another name or a bad value.
    int setOption(const std::string& name, const std::string& value) override;
    /// The largest client limit an option may set: a descriptor each, and the process has
    /// 1024 by default.
    static constexpr int64_t kMaxClientsOption = 1024;

    /// As every caster writes; then every client gets the frame's blocks handed over at once.
    bool write(int type, const uint8_t* data, int size, int64_t pts, int duration,
               int flags) override;
    /// Wraps the block in a packet and delivers it (see deliver).
    void onMuxData(const uint8_t* data, size_t size, int64_t pts, int flags) override;
    /// Every connected client's counters, in descriptor order.
    std::vector<DestinationStats> destinationStats() override;
    /// Hands the packet to every connection in the table, in descriptor order.
    void broadcast(std::shared_ptr<MediaPacket> packet);
    /// Queues the packet at every connection (flow control as broadcast); handOverAll sends.
    void queueForAll(const std::shared_ptr<MediaPacket>& packet);
    /// Hands every connection's queued blocks to its socket.
    void handOverAll();
    /// Inside write: queueForAll (write hands the frame over at its end); otherwise (a block
    /// of close, or one handed in directly): broadcast.
    void deliver(const std::shared_ptr<MediaPacket>& packet);

protected:
    /// On the loop thread: a new connection with the caster's configuration.
    std::shared_ptr<TcpConnection> createConnection(int fd) override;
    void onConnectionClosed(std::shared_ptr<TcpConnection> connection) override;

    /// The connection type of this caster.
    virtual std::shared_ptr<TcpMediaCasterConnection> makeConnection();
    /// The class name in log messages.
    virtual const char* casterName() const { return "TcpTsMediaCaster"; }
    /// SLUICE_PROTOCOL_* of this caster, for the statistics.
    virtual int protocol() const;

private:
    std::atomic<bool> m_inWrite{false};  // a write is multiplexing a frame
};

}  // namespace av
