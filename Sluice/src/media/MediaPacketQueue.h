#pragma once

#include <pthread.h>

#include <deque>
#include <memory>

#include "MediaPacket.h"
#include "Mutex.h"

namespace av {

/// A locked first-in-first-out queue of shared packets with a wake-up event, for a consumer
/// that waits on another thread. Every operation may be called from any thread.
class MediaPacketQueue {
public:
    MediaPacketQueue();
    virtual ~MediaPacketQueue();
    MediaPacketQueue(const MediaPacketQueue&) = delete;
    MediaPacketQueue& operator=(const MediaPacketQueue&) = delete;

    /// Appends at the back and wakes waiters; returns the new length.
    size_t push(std::shared_ptr<MediaPacket> packet);
    /// Takes the front packet; false when the queue is empty.
    bool pop(std::shared_ptr<MediaPacket>& out);
    /// When empty, first waits for a push for at most timeoutMs (forever when negative,
    /// not at all when 0), then behaves as pop(out). A wake-up that finds the queue empty
    /// (another consumer was faster) yields false.
    bool pop(std::shared_ptr<MediaPacket>& out, int timeoutMs);
    bool empty();
    size_t size();
    /// Drops the stale packets in front of the last video key frame (index 0 is never a
    /// drop point), so a slow consumer resumes at a picture it can decode. Returns the
    /// number dropped.
    size_t dropToLastKey();

private:
    /// Waits until signalled or timed out; auto-reset. True when it was signalled.
    bool waitEvent(int timeoutMs);
    void setEvent();

    std::deque<std::shared_ptr<MediaPacket>> m_packets;
    comn::Mutex m_mutex;

    pthread_mutex_t m_eventMutex;
    pthread_cond_t m_eventCond;
    bool m_signalled = false;
};

}  // namespace av
