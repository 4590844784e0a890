#include "HttpOutServer.h"

#include <cerrno>
#include <cstring>
#include <map>

#include "CLog.h"
#include "OptionValue.h"

namespace av {

namespace {

std::mutex& registryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::map<uint16_t, std::weak_ptr<HttpOutServer>>& registry() {
    static std::map<uint16_t, std::weak_ptr<HttpOutServer>> servers;
    return servers;
}

}  // namespace

std::shared_ptr<HttpOutServer> HttpOutServer::acquire(const std::string& ip, uint16_t port,
                                                      int& status) {
    // Declared before the lock: a server that failed to listen is destroyed after it, and
    // its destructor takes the lock.
    std::shared_ptr<HttpOutServer> made;
    std::lock_guard<std::mutex> lock(registryMutex());
    if (port != 0) {
        auto found = registry().find(port);
        if (found != registry().end()) {
            if (std::shared_ptr<HttpOutServer> server = found->second.lock()) {
                status = 0;
                return server;
            }
        }
    }
    made.reset(new HttpOutServer());
    if (!made->open(ip, port)) {
        CLog::error("HTTP output: cannot listen on port %d: %s\n", port, std::strerror(errno));
        status = ENOENT;
        return nullptr;
    }
    registry()[made->port()] = made;
    status = 0;
    return made;
}

HttpOutServer::~HttpOutServer() {
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        auto found = registry().find(port());
        if (found != registry().end() && found->second.expired()) {
            registry().erase(found);
        }
    }
    close();
    closeAllConnections();
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
