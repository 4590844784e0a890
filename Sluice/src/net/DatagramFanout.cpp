#include "DatagramFanout.h"

#include <algorithm>

namespace av {

DatagramFanout::DatagramFanout(size_t capacity) : m_capacity(std::max<size_t>(capacity, 1)) {}

bool DatagramFanout::push(DatagramRef datagram) {
    if (m_targets.empty() || datagram == nullptr) {
        return false;
    }
    bool dropped = false;
    if (m_queue.size() >= m_capacity) {
        m_queue.pop_front();
        ++m_front;
        dropped = true;
        for (Target& target : m_targets) {
            if (target.next < m_front) {
                target.next = m_front;
                ++target.counters.dropped;
            }
        }
    }
    m_queue.push_back(std::move(datagram));
    return dropped;
}

void DatagramFanout::setDestinations(const std::vector<Destination>& destinations) {
    TargetList old;
    old.swap(m_targets);
    auto oldByAddress = std::move(m_byAddress);
    m_byAddress.clear();
    m_bySerial.clear();
    for (const Destination& destination : destinations) {
        if (m_byAddress.count(destination.address) != 0) {
            continue;  // listed twice
        }
        auto found = oldByAddress.find(destination.address);
        if (found == oldByAddress.end()) {
            append(destination);
            continue;
        }
        // Keeps its place in the stream and its counters.
        found->second->destination = destination;
        m_targets.splice(m_targets.end(), old, found->second);
        auto it = std::prev(m_targets.end());
        m_byAddress.emplace(destination.address, it);
        m_bySerial.emplace(it->serial, it);
        oldByAddress.erase(found);
    }
    trim();
}

bool DatagramFanout::addDestination(const Destination& destination) {
    if (m_byAddress.count(destination.address) != 0) {
        return false;
    }
    append(destination);
    return true;
}

DatagramFanout::TargetList::iterator DatagramFanout::append(const Destination& destination) {
    Target target;
    target.serial = ++m_nextSerial;
    target.destination = destination;
    target.next = end();
    auto it = m_targets.insert(m_targets.end(), std::move(target));
    m_byAddress.emplace(destination.address, it);
    m_bySerial.emplace(it->serial, it);
    return it;
}

void DatagramFanout::removeDestination(const NetAddress& address) {
    auto found = m_byAddress.find(address);
    if (found == m_byAddress.end()) {
        return;
    }
    m_bySerial.erase(found->second->serial);
    m_targets.erase(found->second);
    m_byAddress.erase(found);
    // The datagrams only it still needed go at the next take(), which trims anyway.
}

void DatagramFanout::clear() {
    for (Target& target : m_targets) {
        target.counters.dropped += end() - target.next;
        target.next = end();
    }
    m_front = end();
    m_queue.clear();
}

bool DatagramFanout::hasPending() const {
    return std::any_of(m_targets.begin(), m_targets.end(),
                       [this](const Target& t) { return t.next < end(); });
}

size_t DatagramFanout::maxBacklog() const {
    uint64_t most = 0;
    for (const Target& target : m_targets) {
        most = std::max(most, end() - target.next);
    }
    return static_cast<size_t>(most);
}

int64_t DatagramFanout::earliestDue() const {
    uint64_t oldest = end();
    for (const Target& target : m_targets) {
        oldest = std::min(oldest, target.next);
    }
    return oldest < end() ? m_queue[static_cast<size_t>(oldest - m_front)]->dueNs : INT64_MAX;
}

size_t DatagramFanout::take(size_t perDestination, std::vector<Send>& out, int64_t dueByNs) {
    size_t largest = 0;
    for (Target& target : m_targets) {
        if (!target.destination.resolved) {
            target.counters.dropped += end() - target.next;  // nowhere to send them
            target.next = end();
            continue;
        }
        size_t burst = 0;
        for (size_t n = 0; n < perDestination && target.next < end(); ++n, ++target.next) {
            Send send;
            send.datagram = m_queue[static_cast<size_t>(target.next - m_front)];
            if (send.datagram->dueNs > dueByNs) {
                break;
            }
            send.target = target.serial;
            send.socketAddress = target.destination.socketAddress;
            target.inFlightBytes += send.datagram->size;
            burst += send.datagram->size;
            out.push_back(std::move(send));
        }
        largest = std::max(largest, burst);
    }
    trim();
    return largest;
}

void DatagramFanout::settle(const std::vector<Send>& sends, std::vector<Failure>& failures) {
    Target* target = nullptr;
    for (const Send& send : sends) {
        if (target == nullptr || target->serial != send.target) {
            auto it = m_bySerial.find(send.target);
            target = it == m_bySerial.end() ? nullptr : &*it->second;
        }
        if (target == nullptr) {
            continue;  // removed while the datagram was on its way
        }
        target->inFlightBytes -= send.datagram->size;
        if (send.error == 0) {
            ++target->counters.datagrams;
            target->counters.bytes += send.datagram->size;
        } else {
            ++target->counters.sendErrors;
            target->counters.lastErrno = send.error;
            failures.push_back(
                Failure{target->destination.address, send.datagram->size, send.error});
        }
    }
}

std::vector<DatagramFanout::Stats> DatagramFanout::stats() const {
    std::vector<Stats> all;
    all.reserve(m_targets.size());
    for (const Target& target : m_targets) {
        Stats stats{target.destination.address, target.counters};
        stats.counters.backlogBytes = bytesFrom(target.next) + target.inFlightBytes;
        all.push_back(std::move(stats));
    }
    return all;
}

void DatagramFanout::trim() {
    // Datagrams every destination has had are no longer needed; a send in progress keeps
    // its own reference.
    uint64_t oldest = end();
    for (const Target& target : m_targets) {
        oldest = std::min(oldest, target.next);
    }
    while (m_front < oldest) {
        m_queue.pop_front();
        ++m_front;
    }
}

uint64_t DatagramFanout::bytesFrom(uint64_t index) const {
    uint64_t bytes = 0;
    for (uint64_t i = std::max(index, m_front); i < end(); ++i) {
        bytes += m_queue[static_cast<size_t>(i - m_front)]->size;
    }
    return bytes;
}

}  // namespace av
