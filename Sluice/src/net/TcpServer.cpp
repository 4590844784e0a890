#include "TcpServer.h"

#include <arpa/inet.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/listener.h>
#include <event2/thread.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cassert>
#include <cstdio>
#include <cstring>

#include "CLog.h"
#include "LibrarySettings.h"

namespace av {

namespace {

// Bufferevents made with BEV_OPT_THREADSAFE need the event library's thread support before
// the event base exists; sluice_init turns it on as well, this covers servers made earlier.
void useThreads() {
    static std::once_flag once;
    std::call_once(once, [] { evthread_use_pthreads(); });
}

}  // namespace

TcpServer::TcpServer() {
    useThreads();
    m_base = event_base_new();
    assert(m_base != nullptr && "event_base_new");
    m_removalEvent = event_new(m_base, -1, 0, &TcpServer::removalCallback, this);
    assert(m_removalEvent != nullptr && "event_new");
    m_resumeEvent = evtimer_new(m_base, &TcpServer::resumeCallback, this);
    assert(m_resumeEvent != nullptr && "evtimer_new");
    setStackSize(static_cast<unsigned int>(av::LibrarySettings::stackSize()));
}

TcpServer::~TcpServer() {
    // The owner's destructor stops the loop: a running loop would call back into it.
    assert(!isRunning() && "TcpServer destroyed with its loop running");
    close();
    {
        comn::AutoLock lock(m_connections.mutex());
        int fd;
        std::shared_ptr<TcpConnection> connection;
        while (m_connections.popFirst(fd, connection)) {
            dropLocked(connection, false);
        }
    }
    event_free(m_removalEvent);
    event_free(m_resumeEvent);
    // Runs the finalisers of the bufferevents freed above, which closes their descriptors.
    event_base_free(m_base);
}

bool TcpServer::open(const std::string& ip, uint16_t port) {
    std::lock_guard<std::mutex> lock(m_lifecycleMutex);
    if (isRunning() || m_listener != nullptr) {
        // close() without the lock it would take again
        Thread::stop();
        event_del(m_resumeEvent);
        if (m_listener != nullptr) {
            evconnlistener_free(m_listener);
            m_listener = nullptr;
        }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = ip.empty() ? htonl(INADDR_ANY) : inet_addr(ip.c_str());
    // Close-on-exec: a child process of the host must not keep the port or the clients.
    m_listener =
        evconnlistener_new_bind(m_base, &TcpServer::acceptCallback, this,
                                LEV_OPT_CLOSE_ON_FREE | LEV_OPT_REUSEABLE | LEV_OPT_CLOSE_ON_EXEC,
                                -1, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (m_listener == nullptr) {
        return false;
    }
    evconnlistener_set_error_cb(m_listener, &TcpServer::acceptErrorCallback);
    m_acceptFailing = false;  // the loop is not running: no other thread reads it now
    Thread::start();
    return true;
}

void TcpServer::close() {
    std::lock_guard<std::mutex> lock(m_lifecycleMutex);
    if (isRunning()) {
        Thread::stop();
    }
    event_del(m_resumeEvent);
    if (m_listener != nullptr) {
        evconnlistener_free(m_listener);
        m_listener = nullptr;
    }
}

bool TcpServer::isOpen() {
    std::lock_guard<std::mutex> lock(m_lifecycleMutex);
    return m_listener != nullptr;
}

uint16_t TcpServer::port() {
    std::lock_guard<std::mutex> lock(m_lifecycleMutex);
    if (m_listener == nullptr) {
        return 0;
    }
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(evconnlistener_get_fd(m_listener), reinterpret_cast<sockaddr*>(&address),
                      &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

int TcpServer::run() {
    while (!isStopping()) {
        event_base_dispatch(m_base);
    }
    return 0;
}

void TcpServer::doStop() {
    event_base_loopexit(m_base, nullptr);
}

void TcpServer::onConnectionClosed(std::shared_ptr<TcpConnection>) {}

void TcpServer::closeAllConnections() {
    // Released under the table lock: a writer holding the lock never meets a freed
    // bufferevent.
    comn::AutoLock lock(m_connections.mutex());
    int fd;
    std::shared_ptr<TcpConnection> connection;
    while (m_connections.popFirst(fd, connection)) {
        dropLocked(connection, true);
    }
}

bool TcpServer::removeConnection(int fd) {
    comn::AutoLock lock(m_connections.mutex());
    std::shared_ptr<TcpConnection> connection = m_connections.remove(fd);
    if (connection == nullptr) {
        return false;
    }
    dropLocked(connection, true);
    return true;
}

void TcpServer::dropLocked(const std::shared_ptr<TcpConnection>& connection, bool notify) {
    auto held = m_perAddress.find(connection->peerAddress());
    if (held != m_perAddress.end() && --held->second == 0) {
        m_perAddress.erase(held);
    }
    if (notify) {
        onConnectionClosed(connection);
    }
    connection->close();
}

void TcpServer::acceptCallback(evconnlistener*, int fd, struct sockaddr* address, int, void* arg) {
    static_cast<TcpServer*>(arg)->accept(fd, address);
}

void TcpServer::setMaxClients(size_t count) {
    m_maxClients = count > 0 ? count : 1;
}

void TcpServer::setMaxClientsPerAddress(size_t count) {
    m_maxPerAddress = count > 0 ? count : 1;
}

void TcpServer::acceptErrorCallback(evconnlistener*, void* arg) {
    static_cast<TcpServer*>(arg)->onAcceptError();
}

void TcpServer::resumeCallback(int, short, void* arg) {
    static_cast<TcpServer*>(arg)->resumeAccepting();
}

void TcpServer::onAcceptError() {
    const int error = EVUTIL_SOCKET_ERROR();
    if (!m_acceptFailing) {
        m_acceptFailing = true;
        CLog::warning("TcpServer(%d) accept failed: %s; new clients wait\n", localPort(),
                      evutil_socket_error_to_string(error));
    }
    // The listener is ours while the loop runs: close() stops the loop before freeing it.
    evconnlistener_disable(m_listener);
    const timeval pause{0, kAcceptPauseMs * 1000};
    evtimer_add(m_resumeEvent, &pause);
}

void TcpServer::resumeAccepting() {
    if (m_listener != nullptr) {
        evconnlistener_enable(m_listener);
    }
}

uint16_t TcpServer::localPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (m_listener == nullptr ||
        ::getsockname(evconnlistener_get_fd(m_listener), reinterpret_cast<sockaddr*>(&address),
                      &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

bool TcpServer::admit(int fd, uint32_t address) {
    const bool full = m_connections.size() >= m_maxClients.load();
    const auto held = m_perAddress.find(address);
    const size_t ofAddress = held == m_perAddress.end() ? 0 : held->second;
    if (!full && ofAddress < m_maxPerAddress.load()) {
        if (const uint64_t refused = m_refusing.end(); refused > 0) {
            CLog::warning("TcpServer(%d) below the client limit again; %llu clients closed\n",
                          localPort(), static_cast<unsigned long long>(refused));
        }
        if (const uint64_t refused = m_refusingAddress.end(); refused > 0) {
            CLog::warning("TcpServer(%d) %llu clients closed over the per-address limit\n",
                          localPort(), static_cast<unsigned long long>(refused));
        }
        return true;
    }
    // Closed before anything is set up for it: a flood of clients costs one descriptor for a
    // moment each.
    evutil_closesocket(fd);
    ++m_refusedClients;
    if (full) {
        if (m_refusing.occur()) {
            CLog::warning("TcpServer(%d) client limit %zu reached: new clients are closed\n",
                          localPort(), m_maxClients.load());
        }
    } else if (m_refusingAddress.occur()) {
        char text[INET_ADDRSTRLEN] = {0};
        inet_ntop(AF_INET, &address, text, sizeof text);
        CLog::warning(
            "TcpServer(%d) %s holds %zu clients, the most one address may: its new "
            "clients are closed\n",
            localPort(), text, ofAddress);
    }
    return false;
}

void TcpServer::accept(int fd, const sockaddr* peer) {
    if (m_acceptFailing) {
        m_acceptFailing = false;
        CLog::warning("TcpServer(%d) accepting clients again\n", localPort());
    }
    const uint32_t address = peer != nullptr && peer->sa_family == AF_INET
                                 ? reinterpret_cast<const sockaddr_in*>(peer)->sin_addr.s_addr
                                 : 0;
    {
        comn::AutoLock lock(m_connections.mutex());
        if (!admit(fd, address)) {
            return;
        }
    }
    bufferevent* bev =
        bufferevent_socket_new(m_base, fd, BEV_OPT_CLOSE_ON_FREE | BEV_OPT_THREADSAFE);
    if (bev == nullptr) {
        std::fprintf(stderr, "Error constructing bufferevent!\n");
        event_base_loopbreak(m_base);
        return;
    }
    std::shared_ptr<TcpConnection> connection = createConnection(fd);
    if (connection == nullptr) {
        bufferevent_free(bev);
        return;
    }
    connection->setup(fd, this, bev, ++m_nextSerial);
    connection->setPeerAddress(address);
    if (connection->onOpen(fd) != 0) {
        connection->release();  // never in the table: no lock needed
        return;
    }
    // Entered and enabled in one step under the table lock, so that nobody can release the
    // connection between the two.
    comn::AutoLock lock(m_connections.mutex());
    m_connections.put(fd, connection);
    ++m_perAddress[address];
    bufferevent_setcb(bev, &TcpServer::readCallback, &TcpServer::writeCallback,
                      &TcpServer::eventCallback, connection.get());
    bufferevent_enable(bev, EV_READ);
}

// The table keeps the connection alive while its bufferevent exists; the bufferevent is
// freed (under its own lock, so never during one of these calls) before the connection goes.
void TcpServer::readCallback(bufferevent* bev, void* arg) {
    static_cast<TcpConnection*>(arg)->onRead(bev);
}

void TcpServer::writeCallback(bufferevent* bev, void* arg) {
    static_cast<TcpConnection*>(arg)->onWrite(bev);
}

void TcpServer::eventCallback(bufferevent* bev, short events, void* arg) {
    static_cast<TcpConnection*>(arg)->onEvent(bev, events);
}

void TcpServer::requestRemoval(int fd, uint64_t serial) {
    {
        std::lock_guard<std::mutex> lock(m_removalMutex);
        m_removals.emplace_back(fd, serial);
    }
    event_active(m_removalEvent, EV_READ, 0);
}

void TcpServer::removalCallback(int, short, void* arg) {
    static_cast<TcpServer*>(arg)->removeRequested();
}

void TcpServer::removeRequested() {
    std::vector<std::pair<int, uint64_t>> removals;
    {
        std::lock_guard<std::mutex> lock(m_removalMutex);
        removals.swap(m_removals);
    }
    comn::AutoLock lock(m_connections.mutex());
    for (const auto& [fd, serial] : removals) {
        // By the descriptor the connection had when it asked; a later client that got the
        // same number (after closeAllConnections took the first one) is left alone.
        std::shared_ptr<TcpConnection> connection = m_connections.find(fd);
        if (connection != nullptr && connection->serial() == serial) {
            m_connections.remove(fd);
            dropLocked(connection, true);
        }
    }
}

}  // namespace av
