#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "ByteClock.h"
#include "DatagramBatch.h"
#include "DatagramFanout.h"
#include "DatagramSendObserver.h"
#include "SendPace.h"
#include "TThread.h"

namespace av {

/// Sends the datagrams of one cast to all its destinations from a thread of its own, so that
/// the writer only queues and never waits for the network.
///
/// Pace: the thread wakes on absolute deadlines of the monotonic clock (clock_nanosleep);
/// each tick gives every destination at most SendPace::kBurst of its next datagrams (one
/// while the stream is paced evenly), all in one sendmmsg (one queued copy of each datagram,
/// referenced by every message; a destination's run of several is one message the kernel
/// cuts, DatagramBatch). SendPace sets the period and the count from the stream's measured
/// rate and the backlog. When nothing is queued the thread sleeps until the next push.
///
/// One thread per caster rather than one for all: a caster's pace, its stalls (a full socket
/// buffer) and its shutdown never touch another caster, and the number of casters on the
/// device is small.
///
/// Threads: push, setDestinations, stats and the lifecycle may be called from any thread
/// (start and stop not concurrently with each other). One internal lock guards the queue;
/// it is never held across a system call.
class PacedDatagramSender : private comn::Thread {
public:
    /// About 2.7 s of an 8 Mbit/s stream (2.8 MB): room for any stall worth waiting for.
    static constexpr size_t kQueueCapacity = 2048;

    explicit PacedDatagramSender(DatagramSendObserver& observer, size_t capacity = kQueueCapacity);
    /// stop(false).
    ~PacedDatagramSender() override;
    PacedDatagramSender(const PacedDatagramSender&) = delete;
    PacedDatagramSender& operator=(const PacedDatagramSender&) = delete;

    /// Starts the thread sending through fd (not owned; it must stay open until stop).
    /// False when the thread could not be made. Stack size: the library setting.
    bool start(int fd);
    /// Stops the thread. flush: everything queued goes out first, at the shortest tick.
    /// Otherwise what is queued is dropped (and counted). Returns once the thread has ended.
    void stop(bool flush);
    bool isRunning() const { return comn::Thread::isRunning(); }

    /// Queues header + payload (at most Datagram::kMaxSize bytes) for every destination.
    /// Never waits for the network. False when not running, without destinations, or too big.
    bool push(const uint8_t* header, size_t headerSize, const uint8_t* payload, size_t payloadSize);
    /// See DatagramFanout::setDestinations. A destination removed during a tick may still get
    /// the datagrams of that tick.
    void setDestinations(const std::vector<DatagramFanout::Destination>& destinations);
    /// See DatagramFanout::addDestination and removeDestination: one destination, at a cost
    /// independent of how many there are.
    bool addDestination(const DatagramFanout::Destination& destination);
    void removeDestination(const NetAddress& address);
    /// A constant-rate stream of bitsPerSecond (0: variable, paced by its measured rate):
    /// each datagram goes out when its bytes are due by the stream's byte clock (the one its
    /// PCRs follow; ByteClock), at most SendPace::kBurst back to back
    /// per destination when behind. Headers (RTP) are not part of the stream's bytes.
    void setStreamRate(int64_t bitsPerSecond);

    /// Constant-rate streams: datagrams due within gatherNs of the first one due go out with
    /// it, at most SendPace::kBurst per destination, as one message the kernel cuts: one pass
    /// through the network stack for several datagrams. A receiver sees them back to back,
    /// the last up to gatherNs early. 0 (the default): each datagram when it is due.
    void setGather(int64_t gatherNs);
    /// Real-time priority of the sending thread (1..99, SCHED_FIFO; 0 the normal scheduler),
    /// applied at once and at every later start: a constant-rate stream's datagrams leave on
    /// time while the encoder keeps the processor busy. 0, EINVAL out of range, or the
    /// system's refusal (EPERM; the thread then keeps its scheduling).
    int setPriority(int priority);

    std::vector<DatagramFanout::Stats> stats();
    /// True when every datagram pushed has been handed to the system (or dropped).
    bool idle();

private:
    int run() override;
    void transmit(std::vector<DatagramFanout::Send>& sends);
    /// Stream pacing: the tick's datagrams (lock held); the time of the next tick.
    int64_t takeDue(std::vector<DatagramFanout::Send>& sends, int64_t now);

    DatagramSendObserver& m_observer;
    int m_fd = -1;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    DatagramFanout m_fanout;
    SendPace m_pace;
    bool m_accepting = false;  // push queues only while the thread runs
    bool m_flush = false;
    bool m_stopping = false;
    bool m_inFlight = false;  // a tick's datagrams are being sent
    bool m_overflowing = false;
    ByteClock m_clock;  // constant-rate streams
    uint64_t m_episodeDrops = 0;
    int m_priority = 0;      // guarded by m_mutex
    int64_t m_gatherNs = 0;  // guarded by m_mutex
    DatagramBatch m_batch;   // the thread's own
};

}  // namespace av
