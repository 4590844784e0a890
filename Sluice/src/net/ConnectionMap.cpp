#include "ConnectionMap.h"

#include "TcpConnection.h"

namespace av {

void ConnectionMap::put(int fd, Connection connection) {
    comn::AutoLock lock(m_mutex);
    m_connections[fd] = std::move(connection);
}

ConnectionMap::Connection ConnectionMap::find(int fd) {
    comn::AutoLock lock(m_mutex);
    auto it = m_connections.find(fd);
    return it == m_connections.end() ? nullptr : it->second;
}

ConnectionMap::Connection ConnectionMap::remove(int fd) {
    comn::AutoLock lock(m_mutex);
    auto it = m_connections.find(fd);
    if (it == m_connections.end()) {
        return nullptr;
    }
    Connection connection = std::move(it->second);
    m_connections.erase(it);
    return connection;
}

bool ConnectionMap::popFirst(int& fd, Connection& connection) {
    comn::AutoLock lock(m_mutex);
    if (m_connections.empty()) {
        return false;
    }
    auto first = m_connections.begin();
    fd = first->first;
    connection = std::move(first->second);
    m_connections.erase(first);
    return true;
}

void ConnectionMap::forEach(const std::function<void(int, const Connection&)>& function) {
    comn::AutoLock lock(m_mutex);
    for (const auto& [fd, connection] : m_connections) {
        function(fd, connection);
    }
}

size_t ConnectionMap::size() {
    comn::AutoLock lock(m_mutex);
    return m_connections.size();
}

}  // namespace av
