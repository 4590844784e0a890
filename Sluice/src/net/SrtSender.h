#pragma once

#include <netinet/in.h>
#include <srt/srt.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ByteClock.h"
#include "LogEpisode.h"
#include "NetAddress.h"
#include "SrtLink.h"
#include "SrtOptions.h"
#include "TThread.h"

namespace av {

/// Sends one transport stream over SRT (live mode) to every peer, from a thread of its own:
/// callers accepted by an optional listener, and listeners it calls itself (targets), each
/// reconnected with back-off (0.25 s doubling to 8 s; back to 0.25 s after a link that was
/// up) when its link drops or cannot be made.
///
/// The writer only queues: push copies a block once and hands it to every connected link's
/// bounded queue (SrtLink), then wakes the thread, which hands the queues to libsrt without
/// blocking. A slow or vanished peer thus loses its own oldest blocks and delays nobody.
///
/// Callers of the listener are limited in number and per address (options "maxclients" and
/// "maxperaddress"): a handshake beyond a limit is rejected in libsrt's listen callback
/// (SRT_REJX_OVERLOAD), before libsrt sets up a socket and its buffers for it, and checked
/// again when the caller is accepted. Once callers have left, memory that libsrt's threads
/// freed is given back to the system (malloc_trim) after libsrt's own clean-up.
///
/// Pace: a variable stream's blocks go to libsrt as they come, and libsrt paces each link
/// (maxbw; by default a cap of 200 Mbit/s, SrtOptions::kDefaultCeiling: a key frame and
/// retransmissions leave spread out, not at line rate, without the CPU cost of pacing every
/// packet near the stream's rate; measured, pacing in this thread instead, at the stream's
/// rate plus 25 % as the datagram senders do, woke it and libsrt's sending thread on every
/// tick and cost more than the cap). A constant-rate stream (setStreamRate) goes out by its own
/// byte clock (ByteClock, the schedule the datagram senders keep): each block is handed to libsrt
/// when its bytes are due, at most SendPace::kBurst back to back per link when behind; libsrt still
/// caps each link at the known rate plus its 25 % overhead (SRTO_INPUTBW, unless maxbw is set), so
/// that retransmissions and a catching-up sender never burst beyond it.
///
/// Options: a connection takes the options current when it is made. A change of passphrase
/// or key length ends every link (listener callers must call again; targets reconnect at
/// once); a change of maxbw is applied to the links up; latency and stream ID wait for the
/// next connection. The passphrase is never logged.
///
/// Threads: every public function may be called from any thread (start and stop not
/// concurrently with each other). One lock guards the links; libsrt sockets are closed
/// outside it. The listen callback (on libsrt's thread) takes only the options' own lock and
/// the admission lock, a leaf.
class SrtSender : private comn::Thread {
public:
    SrtSender();
    ~SrtSender() override;
    SrtSender(const SrtSender&) = delete;
    SrtSender& operator=(const SrtSender&) = delete;

    /// No listener for start().
    static constexpr int kNoListener = -1;

    /// Starts libsrt and the thread; with port 0-65535 it first listens on every IPv4
    /// address (0: an ephemeral port, see listenPort). ENOENT when the port cannot be
    /// listened on, ENODEV when the thread cannot start.
    int start(int port);
    /// Hands what is queued to libsrt, closes every link and the listener, stops the thread.
    void stop();
    bool isRunning() const { return comn::Thread::isRunning(); }
    /// The port listened on (0 without listener).
    uint16_t listenPort() const { return m_listenPort; }
    /// Shown in log messages.
    void setId(int id) { m_id = id; }

    /// See SrtOptions::set; changes apply as the class comment says.
    int setOption(const std::string& name, const std::string& value);
    SrtOptions options();
    /// A constant-rate stream of bitsPerSecond, paced by its byte clock; 0: variable. Applies
    /// to the links up, too.
    void setStreamRate(int64_t bitsPerSecond);

    /// Queues one block for every connected peer; never waits for the network. wakeNow false
    /// leaves the thread asleep until wake() (or its idle tick), so that the blocks of one
    /// frame cost one wake-up instead of one each.
    void push(const uint8_t* data, size_t size, bool wakeNow = true);
    /// Wakes the thread when blocks were queued since it last ran.
    void wake();

    /// Adds a listener to call: false when it already is a target. A host name is resolved
    /// here (IPv4), once; a name that does not resolve stays a target that never connects.
    bool addTarget(const NetAddress& target);
    void removeTarget(const NetAddress& target);
    /// Removes every target and disconnects every caller of the listener (which stays open).
    void removeAllTargets();

    /// Targets in the order they were added (connected or not), then accepted callers in the
    /// order they came.
    std::vector<SrtLinkStats> stats();
    /// Callers accepted and connected now (for tests).
    size_t clientCount();
    /// Targets whose link is up now (for tests).
    size_t connectedTargetCount();
    /// Callers refused because a limit was reached, since construction.
    uint64_t refusedCallers() const { return m_refusedCallers.load(); }

private:
    struct Target {
        NetAddress address;
        sockaddr_in socketAddress{};
        bool resolved = false;
        SRTSOCKET connecting = SRT_INVALID_SOCK;
        std::unique_ptr<SrtLink> link;
        TargetCounters counters;  // kept across reconnections
        std::chrono::steady_clock::time_point nextAttempt;
        std::chrono::milliseconds backoff{0};
        bool failureLogged = false;
    };

    int run() override;
    void doStop() override;
    static int onListenCallback(void* self, SRTSOCKET socket, int version, const sockaddr* peer,
                                const char* streamId);

    // On the thread, lock held; sockets to close are collected in m_closing.
    void acceptCallers();
    void serviceTargets();
    /// Hands due blocks to libsrt (all of them when all, or for a variable stream) and sets
    /// m_nextSendNs.
    void flushLinks(bool all = false);
    void endAllLinks();
    void endTargetLink(Target& target, bool wasUp);
    void closeCollected(std::unique_lock<std::mutex>& lock);
    /// Gives freed memory back while libsrt frees closed sockets; lock held.
    void trimWhenDue(std::unique_lock<std::mutex>& lock);

    /// Listen callback: whether a caller from address fits the limits; counts it if so.
    bool admitCaller(const std::string& address, const SrtOptions& options);
    /// Whether one more caller from address fits, given the callers counted; admission lock.
    bool fits(const std::string& address, const SrtOptions& options) const;
    /// Counts and logs (once per episode) a refused caller; admission lock held.
    void refuseCaller(const std::string& address, const SrtOptions& options);
    /// The admission counts become those of the callers connected now; lock held.
    void publishCallers();
    // Lock held: moves the target's sockets (the call in progress, the link) to sockets for
    // closing outside the lock; the link's counters stay with the target.
    static void collectSockets(Target& target, std::vector<SRTSOCKET>& sockets);
    // Lock held: the same for every caller of the listener, which are forgotten.
    void collectClientSockets(std::vector<SRTSOCKET>& sockets);

    std::atomic<int> m_id{0};
    std::atomic<uint16_t> m_listenPort{0};
    SRTSOCKET m_listener = SRT_INVALID_SOCK;
    int m_listenerPoll = -1;  // libsrt epoll that tells when a caller waits (accept logs else)
    bool m_started = false;

    std::mutex m_optionsMutex;  // never held while calling libsrt, except in the callback
    SrtOptions m_options;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_pushed = false;
    bool m_endLinks = false;           // security changed: every link ends
    bool m_applyBandwidth = false;     // maxbw changed: set it on the links up
    ByteClock m_clock;                 // constant-rate streams
    int64_t m_burstFloorNs = 0;        // no burst before this (monotonic ns)
    int64_t m_nextSendNs = INT64_MAX;  // the next due block's time (monotonic ns)
    std::vector<std::unique_ptr<Target>> m_targets;
    std::vector<std::unique_ptr<SrtLink>> m_clients;
    std::vector<SRTSOCKET> m_closing;
    std::chrono::steady_clock::time_point m_nextTrim;  // lock held
    std::chrono::steady_clock::time_point m_trimUntil;

    std::mutex m_admitMutex;  // a leaf: nothing is locked and libsrt is not called inside it
    std::map<std::string, size_t> m_callersByAddress;
    size_t m_callerTotal = 0;
    LogEpisode m_refusing;
    std::atomic<uint64_t> m_refusedCallers{0};
};

}  // namespace av
