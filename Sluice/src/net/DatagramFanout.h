#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Datagram.h"
#include "NetAddress.h"
#include "TargetCounters.h"

namespace av {

/// The datagrams of one cast waiting to go out, and how far each destination has got.
/// Every destination receives the same datagrams in the same order; one queued copy serves
/// them all. The queue is bounded: when it is full, the oldest whole datagram is dropped
/// (counted for every destination that had not had it yet), so the writer never waits.
/// A destination added while datagrams are queued starts with the next datagram pushed.
///
/// Adding or removing one destination costs the same whatever their number (hashed indexes;
/// nothing is resolved here: destinations arrive with their socket address).
///
/// Not thread-safe: the owner (PacedDatagramSender) holds its own lock around every call.
class DatagramFanout {
public:
    using DatagramRef = std::shared_ptr<const Datagram>;

    /// A destination and its socket address, resolved once by whoever adds it. One whose
    /// name did not resolve (resolved false) stays listed and counted, but nothing is sent
    /// to it: its datagrams count as dropped.
    struct Destination {
        av::NetAddress address;
        sockaddr_in socketAddress{};
        bool resolved = true;
    };

    /// One datagram for one destination, taken for sending.
    struct Send {
        DatagramRef datagram;
        uint64_t target = 0;  // serial of the destination
        sockaddr_in socketAddress{};
        int error = 0;  // filled in by the sender: 0 sent whole, else the errno (EMSGSIZE short)
    };

    /// A destination's identity and counters.
    struct Stats {
        av::NetAddress address;
        TargetCounters counters;
    };

    explicit DatagramFanout(size_t capacity);

    /// Queues the datagram for every destination. Nothing is queued without destinations.
    /// Returns true when the oldest datagram had to be dropped to make room.
    bool push(DatagramRef datagram);
    /// Replaces the destinations with these, in this order. A destination that stays keeps
    /// its place in the stream and its counters; a new one starts with the next datagram.
    void setDestinations(const std::vector<Destination>& destinations);
    /// Appends one destination, which starts with the next datagram pushed. False when its
    /// address is already a destination.
    bool addDestination(const Destination& destination);
    /// Removes one destination (nothing when it is none); sends of it in flight are ignored.
    void removeDestination(const av::NetAddress& address);
    /// Forgets every queued datagram (destinations stay, each counting its losses).
    void clear();

    bool hasPending() const;
    /// Queued datagrams the furthest-behind destination still has to get.
    size_t maxBacklog() const;
    size_t queued() const { return m_queue.size(); }
    size_t capacity() const { return m_capacity; }

    /// Takes, for each destination in order, up to perDestination of its next datagrams
    /// (oldest first) and appends them to out; they count as sent when settle() sees them.
    /// Only datagrams due by dueByNs (see Datagram::dueNs) are taken. Returns the bytes of the
    /// largest burst one destination got.
    size_t take(size_t perDestination, std::vector<Send>& out, int64_t dueByNs = INT64_MAX);
    /// The due time of the oldest datagram a destination still has to get; INT64_MAX when
    /// none is pending.
    int64_t earliestDue() const;
    /// A send that failed, for the log.
    struct Failure {
        av::NetAddress address;
        size_t size = 0;
        int error = 0;
    };

    /// Counts what was taken and sent (or failed) and appends the failures to failures.
    /// Sends to destinations removed meanwhile are ignored.
    void settle(const std::vector<Send>& sends, std::vector<Failure>& failures);

    std::vector<Stats> stats() const;

private:
    struct Target {
        uint64_t serial = 0;
        Destination destination;
        uint64_t next = 0;  // index of the next datagram it is to get
        // Taken for a send that has not settled yet: still backlog, so a snapshot taken
        // during a send does not show the target as caught up.
        uint64_t inFlightBytes = 0;
        TargetCounters counters;
    };

    using TargetList = std::list<Target>;

    TargetList::iterator append(const Destination& destination);
    void trim();
    uint64_t end() const { return m_front + m_queue.size(); }
    uint64_t bytesFrom(uint64_t index) const;

    size_t m_capacity;
    std::deque<DatagramRef> m_queue;
    uint64_t m_front = 0;  // index of m_queue.front()
    TargetList m_targets;  // in the order they get each datagram
    std::unordered_map<av::NetAddress, TargetList::iterator, av::NetAddressHash> m_byAddress;
    std::unordered_map<uint64_t, TargetList::iterator> m_bySerial;
    uint64_t m_nextSerial = 0;
};

}  // namespace av
