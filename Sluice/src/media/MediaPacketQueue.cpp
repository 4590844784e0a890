#include "MediaPacketQueue.h"

#include <cerrno>
#include <ctime>

namespace av {

MediaPacketQueue::MediaPacketQueue() {
    pthread_mutex_init(&m_eventMutex, nullptr);
    // The monotonic clock keeps time-outs right when the wall clock is set.
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&m_eventCond, &attr);
    pthread_condattr_destroy(&attr);
}

MediaPacketQueue::~MediaPacketQueue() {
    pthread_cond_destroy(&m_eventCond);
    pthread_mutex_destroy(&m_eventMutex);
}

size_t MediaPacketQueue::push(std::shared_ptr<MediaPacket> packet) {
    size_t length;
    {
        comn::AutoLock lock(m_mutex);
        m_packets.push_back(std::move(packet));
        length = m_packets.size();
    }
    setEvent();
    return length;
}

bool MediaPacketQueue::pop(std::shared_ptr<MediaPacket>& out) {
    comn::AutoLock lock(m_mutex);
    if (m_packets.empty()) {
        return false;
    }
    out = std::move(m_packets.front());
    m_packets.pop_front();
    return true;
}

bool MediaPacketQueue::pop(std::shared_ptr<MediaPacket>& out, int timeoutMs) {
    if (empty()) {
        waitEvent(timeoutMs);
    }
    return pop(out);
}

bool MediaPacketQueue::empty() {
    comn::AutoLock lock(m_mutex);
    return m_packets.empty();
}

size_t MediaPacketQueue::size() {
    comn::AutoLock lock(m_mutex);
    return m_packets.size();
}

size_t MediaPacketQueue::dropToLastKey() {
    comn::AutoLock lock(m_mutex);
    if (m_packets.size() <= 1) {
        return 0;
    }
    for (size_t i = m_packets.size() - 1; i >= 1; --i) {
        const MediaPacket& packet = *m_packets[i];
        if (packet.isVideo() && packet.isKey()) {
            m_packets.erase(m_packets.begin(), m_packets.begin() + static_cast<long>(i));
            return i;
        }
    }
    return 0;
}

bool MediaPacketQueue::waitEvent(int timeoutMs) {
    timespec deadline{};
    if (timeoutMs >= 0) {
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        const long long total = deadline.tv_nsec / 1000000 + timeoutMs;
        deadline.tv_sec += static_cast<time_t>(total / 1000);
        deadline.tv_nsec = static_cast<long>((total % 1000) * 1000000);
    }
    pthread_mutex_lock(&m_eventMutex);
    while (!m_signalled) {
        const int rc = timeoutMs >= 0
                           ? pthread_cond_timedwait(&m_eventCond, &m_eventMutex, &deadline)
                           : pthread_cond_wait(&m_eventCond, &m_eventMutex);
        if (rc == ETIMEDOUT) {
            break;
        }
    }
    const bool signalled = m_signalled;
    m_signalled = false;
    pthread_mutex_unlock(&m_eventMutex);
    return signalled;
}

void MediaPacketQueue::setEvent() {
    pthread_mutex_lock(&m_eventMutex);
    m_signalled = true;
    pthread_cond_broadcast(&m_eventCond);
    pthread_mutex_unlock(&m_eventMutex);
}

}  // namespace av
