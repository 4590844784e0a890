#include "PacedDatagramSender.h"

#include <sys/prctl.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "LibrarySettings.h"

namespace av {

namespace {

int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void sleepUntil(int64_t deadlineNs) {
    timespec deadline{};
    deadline.tv_sec = static_cast<time_t>(deadlineNs / 1'000'000'000);
    deadline.tv_nsec = static_cast<long>(deadlineNs % 1'000'000'000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

}  // namespace

PacedDatagramSender::PacedDatagramSender(DatagramSendObserver& observer, size_t capacity)
    : m_observer(observer), m_fanout(capacity) {}

PacedDatagramSender::~PacedDatagramSender() {
    stop(false);
}

bool PacedDatagramSender::start(int fd) {
    stop(false);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_fd = fd;
        m_flush = false;
        m_stopping = false;
        m_accepting = true;
        m_clock.restart();  // a new stream
    }
    setStackSize(static_cast<unsigned int>(av::LibrarySettings::stackSize()));
    if (!comn::Thread::start()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_accepting = false;
        return false;
    }
    int priority = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        priority = m_priority;
    }
    if (priority > 0) {
        setRealtimePriority(priority);  // a refusal was reported when it was set
    }
    return true;
}

void PacedDatagramSender::setGather(int64_t gatherNs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_gatherNs = std::max<int64_t>(gatherNs, 0);
}

int PacedDatagramSender::setPriority(int priority) {
    if (priority < 0 || priority > 99) {
        return EINVAL;
    }
    const int status = isRunning() ? setRealtimePriority(priority) : 0;
    if (status == 0 || status == ESRCH) {  // ESRCH: it ended meanwhile; applied at start
        std::lock_guard<std::mutex> lock(m_mutex);
        m_priority = priority;
        return 0;
    }
    return status;
}

void PacedDatagramSender::stop(bool flush) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_accepting = false;
        m_flush = flush;
        m_stopping = true;
        m_wake.notify_all();
    }
    // Our own flag, not the thread's: a worker stopped before it began would skip run(),
    // and with it the flush.
    comn::Thread::join(-1);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fanout.clear();  // counted as dropped; nothing is left after a flush
    m_fd = -1;
}

bool PacedDatagramSender::push(const uint8_t* header, size_t headerSize, const uint8_t* payload,
                               size_t payloadSize) {
    auto datagram = std::make_shared<Datagram>();
    if (!datagram->assign(header, headerSize, payload, payloadSize)) {
        return false;
    }
    const int64_t now = monotonicNs();
    bool begins = false;
    bool ends = false;
    uint64_t dropped = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_accepting) {
            return false;
        }
        m_pace.onArrival(now);
        datagram->dueNs = m_clock.due(payloadSize, now);
        const bool wasIdle = !m_fanout.hasPending();
        if (m_fanout.push(std::move(datagram))) {
            ++m_episodeDrops;
            begins = !m_overflowing;
            m_overflowing = true;
        } else if (m_overflowing && m_fanout.queued() <= m_fanout.capacity() / 2) {
            // Half empty again: the network keeps up once more.
            ends = true;
            dropped = m_episodeDrops;
            m_overflowing = false;
            m_episodeDrops = 0;
        }
        if (wasIdle) {
            m_wake.notify_one();
        }
    }
    if (begins) {
        m_observer.onQueueOverflow(true, 0);
    }
    if (ends) {
        m_observer.onQueueOverflow(false, dropped);
    }
    return true;
}

void PacedDatagramSender::setDestinations(
    const std::vector<DatagramFanout::Destination>& destinations) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fanout.setDestinations(destinations);
}

bool PacedDatagramSender::addDestination(const DatagramFanout::Destination& destination) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fanout.addDestination(destination);
}

void PacedDatagramSender::removeDestination(const NetAddress& address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fanout.removeDestination(address);
}

void PacedDatagramSender::setStreamRate(int64_t bitsPerSecond) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_clock.setRate(bitsPerSecond);
}

int64_t PacedDatagramSender::takeDue(std::vector<DatagramFanout::Send>& sends, int64_t now) {
    const int64_t due = m_fanout.earliestDue();
    if (due > now) {
        return due;
    }
    // The pause after a burst follows what it held: a datagram sent on time lets the next go
    // at its own due time, a late sender's burst of several makes it wait before the next.
    const size_t burstBytes = m_fanout.take(SendPace::kBurst, sends, now + m_gatherNs);
    return m_clock.nextBurst(now, burstBytes, m_fanout.earliestDue());
}

std::vector<DatagramFanout::Stats> PacedDatagramSender::stats() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fanout.stats();
}

bool PacedDatagramSender::idle() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_inFlight && !m_fanout.hasPending();
}

int PacedDatagramSender::run() {
    // The default timer slack (50 us) would stretch the shortest ticks several times over.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::vector<DatagramFanout::Send> sends;
    std::vector<DatagramFanout::Failure> failures;
    int64_t deadline = monotonicNs();
    for (;;) {
        SendPace::Tick tick{};
        int64_t streamNext = -1;  // stream pacing: when the next tick is due
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_fanout.hasPending()) {
                m_wake.wait(lock, [this] { return m_stopping || m_fanout.hasPending(); });
                deadline = monotonicNs();  // after a pause the first tick is due at once
            }
            if (m_stopping && (!m_flush || !m_fanout.hasPending())) {
                break;
            }
            sends.clear();
            // A constant-rate stream keeps its pace while it is flushed, too.
            if (m_clock.rate() > 0 && (!m_stopping || m_flush)) {
                const int64_t now = monotonicNs();
                const int64_t next = takeDue(sends, now);
                if (sends.empty()) {
                    // Not due yet; a push never brings an earlier one, a stop without
                    // flush ends the wait.
                    m_wake.wait_for(lock, std::chrono::nanoseconds(next - now),
                                    [this] { return m_stopping && !m_flush; });
                    continue;
                }
                streamNext = next;
            } else {
                tick = m_pace.next(m_fanout.maxBacklog(), m_stopping);
                m_fanout.take(tick.perDestination, sends);
            }
            m_inFlight = true;
        }
        transmit(sends);
        failures.clear();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_fanout.settle(sends, failures);
            m_inFlight = false;
        }
        sends.clear();  // the datagrams' last references may go here, outside the lock
        for (const DatagramFanout::Failure& failure : failures) {
            m_observer.onSendFailed(failure.address, failure.size, failure.error);
        }
        if (streamNext >= 0) {
            if (streamNext != INT64_MAX) {  // else nothing is left: wait for a push
                deadline = streamNext;
                sleepUntil(deadline);
            }
            continue;
        }
        deadline += tick.periodNs;
        const int64_t now = monotonicNs();
        if (deadline < now - tick.periodNs) {
            deadline = now;  // far behind (a stall): start afresh rather than burst to catch up
        }
        sleepUntil(deadline);
    }
    return 0;
}

void PacedDatagramSender::transmit(std::vector<DatagramFanout::Send>& sends) {
    size_t first = 0;
    while (first < sends.size()) {
        // Every message points at the one queued copy of its datagram.
        size_t added = 0;
        while (first + added < sends.size()) {
            const DatagramFanout::Send& send = sends[first + added];
            if (!m_batch.add(nullptr, 0, send.datagram->bytes, send.datagram->size,
                             &send.socketAddress)) {
                break;
            }
            ++added;
        }
        m_batch.send(m_fd);
        for (size_t i = 0; i < added; ++i) {
            sends[first + i].error = m_batch.error(i);
        }
        first += added;
    }
}

}  // namespace av
