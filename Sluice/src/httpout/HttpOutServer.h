#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "HttpOutConnection.h"
#include "HttpOutMount.h"
#include "TcpServer.h"

namespace av {

/// One HTTP listener serving the HLS and FLV outputs of a port by path: the outputs of both
/// streams may share it. Casters reach a server through acquire() (one per port in the
/// process) and keep it alive by their shared reference; the last one to let go stops it.
/// The TCP server underneath brings the client limits, the accept back-off and the loop.
///
/// Threads: mounts are added and removed by the casters' threads and looked up by the loop,
/// under the mount lock (a leaf). FLV tags go out from the writing thread through
/// forEachFlvClient, under the table lock, like the TCP caster's blocks.
class HttpOutServer : public TcpServer, private HttpOutRouter {
public:
    /// The server listening on port (0: a new one on an ephemeral port), made and started
    /// when there is none. Null with status ENOENT when the port cannot be listened on (the
    /// reason is logged).
    static std::shared_ptr<HttpOutServer> acquire(const std::string& ip, uint16_t port,
                                                  int& status);

    ~HttpOutServer() override;

    /// 0, or EEXIST when another mount has the same key.
    int mount(const std::shared_ptr<HttpOutMount>& mount);
    /// Takes the mount off the server and closes its FLV clients.
    void unmount(const std::shared_ptr<HttpOutMount>& mount);
    /// Runs fn for every client of the FLV stream, table lock held.
    void forEachFlvClient(const void* stream, const std::function<void(HttpOutConnection&)>& fn);
    /// "maxclients" or "maxperaddress" (1..1024): the port's client limits, as the TCP
    /// caster's options. 0, or EINVAL for another name or a bad value.
    int setClientLimit(const std::string& name, const std::string& value);
    /// How long a request may take (tests shorten it); for clients that connect afterwards.
    void setRequestTimeoutMs(int ms) { m_requestTimeoutMs = ms; }

private:
    HttpOutServer() = default;

    std::shared_ptr<TcpConnection> createConnection(int fd) override;
    void route(const std::string& path, uint32_t peer, bool head, HttpOutReply& reply) override;

    std::mutex m_mountMutex;
    std::vector<std::shared_ptr<HttpOutMount>> m_mounts;
    std::atomic<int> m_requestTimeoutMs{HttpOutConnection::kRequestTimeoutMs};
};

}  // namespace av
