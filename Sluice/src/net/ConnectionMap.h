#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>

#include "Mutex.h"

namespace av {

class TcpConnection;

/// A server's table of accepted connections, by socket descriptor. The table owns its
/// connections (shared references).
///
/// Every operation takes the table's recursive mutex. Lock order: a caster's mutex, then
/// this table's mutex, then a connection's bufferevent lock; the event loop never takes
/// this mutex from inside a bufferevent callback. Callers that must keep several steps
/// atomic (find, release, erase) hold mutex() around them.
class ConnectionMap {
public:
    using Connection = std::shared_ptr<TcpConnection>;

    ConnectionMap() = default;
    ConnectionMap(const ConnectionMap&) = delete;
    ConnectionMap& operator=(const ConnectionMap&) = delete;

    /// Inserts, or replaces the entry of the same descriptor.
    void put(int fd, Connection connection);
    /// The connection of fd, or an empty reference.
    Connection find(int fd);
    /// Erases the entry of fd and gives its connection back (empty when there was none).
    Connection remove(int fd);
    /// Erases the entry with the smallest descriptor; false when the table is empty.
    bool popFirst(int& fd, Connection& connection);
    /// Calls function for every entry in ascending descriptor order, the lock held
    /// throughout. The function must not add or erase entries.
    void forEach(const std::function<void(int, const Connection&)>& function);
    size_t size();
    bool empty() { return size() == 0; }

    comn::Mutex& mutex() { return m_mutex; }

private:
    comn::Mutex m_mutex;
    std::map<int, Connection> m_connections;
};

}  // namespace av
