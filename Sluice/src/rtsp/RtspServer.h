#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DestinationStats.h"
#include "RtspConnection.h"
#include "RtspDigestAuth.h"
#include "RtspMount.h"
#include "RtspRequest.h"
#include "RtspSession.h"
#include "TThread.h"

struct event;
struct event_base;
struct evconnlistener;

namespace av {

/// An RTSP 1.0 server (RFC 2326) on one TCP port with its own event-loop thread, serving
/// every stream mounted on it under its path: the main and the sub stream of a device share
/// one port. Casters reach a server through acquire() (one server per port in the process)
/// and keep it alive by their shared reference; the last one to let go stops it.
///
/// Threads. Everything but the frame inboxes belongs to the loop thread: connections,
/// sessions, mounts' paths and settings. Other threads act through runOnLoop(), which waits
/// for the loop to run the function (never call it from the loop itself). The writing
/// thread only publishes frames to its mount and wakes the loop (wake()), so that the
/// network never delays it.
class RtspServer : public comn::Thread {
public:
    /// Connections at a time from one client address, and in all: enough for recorders and
    /// players, few enough that one host cannot take every descriptor.
    static constexpr int kMaxConnectionsPerAddress = 16;
    static constexpr size_t kMaxConnections = 256;
    /// A request's head and body must be complete this long after its first byte arrived.
    static constexpr int64_t kRequestTimeoutMs = 10000;
    /// After a failed accept (descriptors used up) the listener rests this long.
    static constexpr int kAcceptPauseMs = 100;
    /// Server ports of UDP sessions: a bounded range that a firewall can open, with room for
    /// 64 sessions of two tracks on each of a few streams.
    static constexpr int kDefaultFirstUdpPort = 6970;
    static constexpr int kDefaultLastUdpPort = 7993;

    /// The server listening on port (0: a new one on an ephemeral port), made and started
    /// when there is none. Null with status ENOENT when the port cannot be listened on.
    static std::shared_ptr<RtspServer> acquire(uint16_t port, int& status);

    ~RtspServer() override;
    RtspServer(const RtspServer&) = delete;
    RtspServer& operator=(const RtspServer&) = delete;

    uint16_t port() const { return m_port; }

    /// Mounts a stream at path. 0, EEXIST (the path is taken) or EINVAL (not "/..."): the
    /// mount is not served then.
    int mount(const std::shared_ptr<RtspMount>& mount, const std::string& path);
    /// Moves a mounted stream to another path (its sessions stay). 0, EEXIST or EINVAL.
    int remount(const std::shared_ptr<RtspMount>& mount, const std::string& path);
    /// Takes a stream off the server and ends its sessions.
    void unmount(const std::shared_ptr<RtspMount>& mount);
    /// Changes settings of a mounted stream on the loop.
    void configure(const std::shared_ptr<RtspMount>& mount,
                   const std::function<void(RtspMountSettings&)>& change);
    /// The server ports UDP sessions take from now on. False for a bad range.
    bool setUdpPorts(int first, int last);
    /// One row per session of the stream.
    std::vector<DestinationStats> stats(const std::shared_ptr<RtspMount>& mount);
    /// Writer: a mount has published frames.
    void wake();
    /// How long a request may take to arrive whole (kRequestTimeoutMs; tests shorten it).
    void setRequestTimeoutMs(int64_t ms) { m_requestTimeoutMs = ms; }

private:
    RtspServer();
    bool listen(uint16_t port);

    int run() override;
    void doStop() override;
    /// Runs fn on the loop thread and waits for it.
    void runOnLoop(const std::function<void()>& fn);

    static void acceptCallback(evconnlistener*, int fd, struct sockaddr*, int, void* arg);
    static void acceptErrorCallback(evconnlistener*, void* arg);
    static void resumeCallback(int, short, void* arg);
    static void wakeCallback(int, short, void* arg);
    static void sweepCallback(int, short, void* arg);
    static void readCallback(bufferevent* bev, void* arg);
    static void writeCallback(bufferevent* bev, void* arg);
    static void eventCallback(bufferevent* bev, short events, void* arg);

    void accept(int fd);
    void onReadable(RtspConnection& connection);
    void onInterleaved(RtspConnection& connection, int channel, const uint8_t* data, size_t size);
    void handle(RtspConnection& connection, const RtspRequest& request);
    void closeConnection(uint64_t id);
    void endSession(const std::string& id);
    void distribute();
    void sweep();

    /// The mount a request URI names, with what follows its path ("" or "/trackID=1").
    std::shared_ptr<RtspMount> findMount(const std::string& uri, std::string& rest,
                                         std::string& baseUrl) const;
    RtspSession* findSession(const RtspConnection& connection, const RtspRequest& request);
    int sessionCount(const RtspMount* mount) const;
    /// Ends the multicast senders no client session listens to any more.
    void pruneMulticast();
    /// Whether a multicast client of the stream is playing.
    bool multicastPlaying(const RtspMount* mount) const;
    int64_t idleLimitMs() const;

    event_base* m_base = nullptr;
    evconnlistener* m_listener = nullptr;
    event* m_wakeEvent = nullptr;
    event* m_sweepEvent = nullptr;
    event* m_resumeEvent = nullptr;
    uint16_t m_port = 0;
    std::atomic<std::thread::id> m_loopThread{};
    std::atomic<int64_t> m_requestTimeoutMs{kRequestTimeoutMs};

    std::mutex m_commandMutex;
    std::condition_variable m_commandDone;
    std::deque<std::function<void()>> m_commands;
    uint64_t m_commandsQueued = 0;  // guarded by m_commandMutex
    uint64_t m_commandsRun = 0;     // guarded by m_commandMutex

    // Loop thread only.
    std::map<std::string, std::shared_ptr<RtspMount>> m_mounts;  // by normalised path
    std::map<uint64_t, std::unique_ptr<RtspConnection>> m_connections;
    std::map<std::string, int> m_connectionsPerAddress;
    std::map<std::string, std::unique_ptr<RtspSession>> m_sessions;
    // Per stream, the one sender of its multicast clients (made at their first SETUP).
    std::map<const RtspMount*, std::unique_ptr<RtspSession>> m_multicast;
    uint64_t m_nextConnectionId = 0;
    int m_firstUdpPort = kDefaultFirstUdpPort;
    int m_lastUdpPort = kDefaultLastUdpPort;
    int m_udpCursor = 0;
    bool m_acceptFailing = false;
    RtspDigestAuth m_auth;
};

}  // namespace av
