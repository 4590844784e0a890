#include "HttpOutServer.h"

#include <cerrno>
#include <cstring>
#include <map>

#include "CLog.h"
#include "OptionValue.h"
#include "PortRegistry.h"

namespace av {

namespace {

PortRegistry<HttpOutServer>& registry() {
    // Never destroyed: a caster released during the process's exit still finds it.
    static auto* servers = new PortRegistry<HttpOutServer>();
    return *servers;
}

}  // namespace

std::shared_ptr<HttpOutServer> HttpOutServer::acquire(const std::string& ip, uint16_t port,
                                                      int& status) {
    // Declared before the lock: a server that failed to listen is destroyed after it, and
    // its destructor takes the lock.
    std::shared_ptr<HttpOutServer> made;
    std::unique_lock<std::mutex> lock(registry().mutex());
    if (port != 0) {
        if (std::shared_ptr<HttpOutServer> server = registry().find(lock, port)) {
            status = 0;
            return server;
        }
    }
    made.reset(new HttpOutServer());
    if (!made->open(ip, port)) {
        CLog::error("HTTP output: cannot listen on port %d: %s\n", port, std::strerror(errno));
        status = ENOENT;
        return nullptr;
    }
    registry().add(made->port(), made);
    status = 0;
    return made;
}

HttpOutServer::~HttpOutServer() {
    // The port is free again before the registry forgets the server, so that a caster
    // opening the port next can listen on it.
    const uint16_t listened = port();
    close();
    closeAllConnections();
    if (listened != 0) {
        registry().forget(listened);
    }
}

int HttpOutServer::mount(const std::shared_ptr<HttpOutMount>& mount) {
    std::lock_guard<std::mutex> lock(m_mountMutex);
    for (const auto& other : m_mounts) {
        if (other->key() == mount->key()) {
            return EEXIST;
        }
    }
    m_mounts.push_back(mount);
    return 0;
}

void HttpOutServer::unmount(const std::shared_ptr<HttpOutMount>& mount) {
    {
        std::lock_guard<std::mutex> lock(m_mountMutex);
        for (auto it = m_mounts.begin(); it != m_mounts.end(); ++it) {
            if (*it == mount) {
                m_mounts.erase(it);
                break;
            }
        }
    }
    std::vector<int> fds;
    const void* stream = mount.get();
    connections().forEach([&](int fd, const std::shared_ptr<TcpConnection>& connection) {
        if (static_cast<HttpOutConnection*>(connection.get())->flvStream() == stream) {
            fds.push_back(fd);
        }
    });
    for (int fd : fds) {
        removeConnection(fd);
    }
}

void HttpOutServer::forEachFlvClient(const void* stream,
                                     const std::function<void(HttpOutConnection&)>& fn) {
    connections().forEach([&](int, const std::shared_ptr<TcpConnection>& connection) {
        auto* client = static_cast<HttpOutConnection*>(connection.get());
        if (client->flvStream() == stream) {
            fn(*client);
        }
    });
}

int HttpOutServer::setClientLimit(const std::string& name, const std::string& value) {
    int64_t count = 0;
    if ((name != "maxclients" && name != "maxperaddress") || !parseOptionInteger(value, count) ||
        count < 1 || count > 1024) {
        return EINVAL;
    }
    if (name == "maxclients") {
        setMaxClients(static_cast<size_t>(count));
    } else {
        setMaxClientsPerAddress(static_cast<size_t>(count));
    }
    return 0;
}

std::shared_ptr<TcpConnection> HttpOutServer::createConnection(int) {
    return std::make_shared<HttpOutConnection>(static_cast<HttpOutRouter&>(*this),
                                               m_requestTimeoutMs.load());
}

void HttpOutServer::route(const std::string& path, uint32_t peer, bool head, HttpOutReply& reply) {
    std::lock_guard<std::mutex> lock(m_mountMutex);
    for (const auto& mount : m_mounts) {
        if (mount->serve(path, peer, head, reply)) {
            return;
        }
    }
    reply.head = HttpOutHead::error(404, "Not Found");
}

}  // namespace av
