#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace av {

/// One server per local port in the process, shared by the casters of that port (the RTSP
/// and the HLS/HTTP-FLV servers). A server that is going away keeps its entry until it has
/// freed its port: a caster opening the port meanwhile waits for that, rather than failing to
/// bind the port the old server still holds.
template <class Server>
class PortRegistry {
public:
    std::mutex& mutex() { return m_mutex; }

    /// The live server of port, or nullptr once no server holds the port (then the caller,
    /// still holding lock, makes one and add()s it). lock holds mutex().
    std::shared_ptr<Server> find(std::unique_lock<std::mutex>& lock, uint16_t port) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            auto found = m_servers.find(port);
            if (found == m_servers.end()) {
                return nullptr;
            }
            if (std::shared_ptr<Server> server = found->second.lock()) {
                return server;
            }
            // Bounded: a port that is never given back fails the new open as it always did.
            if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout) {
                return nullptr;
            }
        }
    }

    /// lock holds mutex().
    void add(uint16_t port, const std::shared_ptr<Server>& server) { m_servers[port] = server; }

    /// From a server's destructor once its port is free again.
    void forget(uint16_t port) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto found = m_servers.find(port);
        if (found != m_servers.end() && found->second.expired()) {
            m_servers.erase(found);
        }
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<uint16_t, std::weak_ptr<Server>> m_servers;
};

}  // namespace av
