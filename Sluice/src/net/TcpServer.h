#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ConnectionMap.h"
#include "LogEpisode.h"
#include "TThread.h"
#include "TcpConnection.h"
#include "TcpConnectionOwner.h"

struct event;
struct event_base;
struct evconnlistener;
struct sockaddr;

namespace av {

/// A listening TCP socket with its own event-loop thread (libevent) and the table of the
/// connections it accepted. The owner derives from it, creates its connection type in
/// createConnection and decides what to send through the table.
///
/// Threads. The worker runs the event loop: it accepts clients, sets them up, enters them in
/// the table and runs every bufferevent callback. Other threads (the owner's) reach the
/// connections through the table, under its lock. A connection closed by its peer or by an
/// error is released on the loop thread right after its callback returns, under the table
/// lock, and leaves the table at once; a bufferevent is freed only under the table lock, so
/// nobody writes to a freed one. open() and close() may be called from any thread but the
/// loop's own.
///
/// Lock order: the owner's lock, then the table lock, then a bufferevent's lock.
/// onConnectionClosed is called with the table lock held.
class TcpServer : public comn::Thread, private TcpConnectionOwner {
public:
    /// Enough for every viewer a device serves; the limit keeps unauthenticated clients
    /// from using up the process's descriptors and memory.
    static constexpr size_t kDefaultMaxClients = 256;
    /// One address may hold this many of them (as the web server allows): a single host
    /// cannot take every slot from the viewers of other hosts, while a few players behind
    /// one NAT address still fit.
    static constexpr size_t kDefaultMaxClientsPerAddress = 16;
    /// After a failed accept (descriptors or memory used up) the listener rests this long
    /// instead of failing again at once: no busy loop, no flood of messages.
    static constexpr int kAcceptPauseMs = 100;

    /// Creates the event base (with the event library's thread support turned on) and takes
    /// the library-wide stack size for the worker.
    TcpServer();
    /// The owner calls close() first (its destructor does): the worker must have stopped.
    /// Connections still in the table are released, which closes their sockets.
    ~TcpServer() override;

    /// Listens on ip (empty: every interface) and port (0: an ephemeral one) and starts the
    /// loop. An open server is closed first. False when the listener could not be made
    /// (port in use, bad address); no thread runs then.
    bool open(const std::string& ip, uint16_t port);
    /// Stops the loop and frees the listener. Connections stay in the table.
    void close();
    /// A listener exists.
    bool isOpen();
    /// The port the listener is bound to; 0 when not listening.
    uint16_t port();

    /// Clients accepted at most at a time (default kDefaultMaxClients; at least 1). A client
    /// beyond it is closed at once and counted. Takes effect for the next client.
    void setMaxClients(size_t count);
    size_t maxClients() const { return m_maxClients.load(); }
    /// Clients one IPv4 address may hold at a time (default kDefaultMaxClientsPerAddress; at
    /// least 1). A client beyond it is closed at once and counted. For the next client.
    void setMaxClientsPerAddress(size_t count);
    size_t maxClientsPerAddress() const { return m_maxPerAddress.load(); }
    /// Clients closed at once because a limit was reached, since construction.
    uint64_t refusedClients() const { return m_refusedClients.load(); }

    /// Releases every connection and empties the table (onConnectionClosed, then the
    /// connection's close, for each).
    void closeAllConnections();
    /// Releases the connection of fd and takes it out of the table. False when fd has none.
    bool removeConnection(int fd);
    size_t connectionCount() { return m_connections.size(); }

protected:
    /// The event loop, until the stop flag is set.
    int run() override;
    /// Asks the loop to return.
    void doStop() override;

    /// On the loop thread, for every accepted client: the connection for fd, or an empty
    /// reference to refuse the client.
    virtual std::shared_ptr<TcpConnection> createConnection(int fd) = 0;
    /// A connection leaves the table; called with the table lock held, before the
    /// connection closes. Must not take a lock that is held around table operations.
    virtual void onConnectionClosed(std::shared_ptr<TcpConnection> connection);

    ConnectionMap& connections() { return m_connections; }

private:
    static void acceptCallback(evconnlistener* listener, int fd, struct sockaddr* address,
                               int length, void* arg);
    static void readCallback(bufferevent* bev, void* arg);
    static void writeCallback(bufferevent* bev, void* arg);
    static void eventCallback(bufferevent* bev, short events, void* arg);
    static void removalCallback(int fd, short what, void* arg);
    static void acceptErrorCallback(evconnlistener* listener, void* arg);
    static void resumeCallback(int fd, short what, void* arg);

    /// On the loop thread: an accept failed; pause the listener, log once per episode.
    void onAcceptError();
    void resumeAccepting();
    /// The listener's port; loop thread or lifecycle lock.
    uint16_t localPort() const;

    void accept(int fd, const sockaddr* address);
    /// On the loop thread: whether a client from address may come in; closes fd, counts and
    /// logs (once per episode) when not. Table lock held.
    bool admit(int fd, uint32_t address);
    /// Queues the release and wakes the loop; takes no table lock.
    void requestRemoval(int fd, uint64_t serial) override;
    /// On the loop thread: releases the connections asked for by requestRemoval.
    void removeRequested();
    /// Table lock held; the connection is already out of the table.
    void dropLocked(const std::shared_ptr<TcpConnection>& connection, bool notify);

    event_base* m_base = nullptr;
    evconnlistener* m_listener = nullptr;
    ConnectionMap m_connections;
    uint64_t m_nextSerial = 0;  // loop thread only

    event* m_removalEvent = nullptr;
    std::mutex m_removalMutex;  // a leaf: nothing else is locked while it is held
    std::vector<std::pair<int, uint64_t>> m_removals;

    std::mutex m_lifecycleMutex;  // open, close and the listener; never taken by the loop

    std::atomic<size_t> m_maxClients{kDefaultMaxClients};
    std::atomic<size_t> m_maxPerAddress{kDefaultMaxClientsPerAddress};
    std::atomic<uint64_t> m_refusedClients{0};
    std::map<uint32_t, size_t> m_perAddress;  // clients in the table by address; table lock
    event* m_resumeEvent = nullptr;
    bool m_acceptFailing = false;  // loop thread only: an episode of failed accepts is on
    LogEpisode m_refusing;         // loop thread only: clients refused over the client limit
    LogEpisode m_refusingAddress;  // loop thread only: over the per-address limit
};

}  // namespace av
