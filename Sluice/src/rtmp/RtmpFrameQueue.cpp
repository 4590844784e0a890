#include "RtmpFrameQueue.h"

#include <chrono>

namespace av {

RtmpFrameQueue::RtmpFrameQueue(size_t maxFrames, size_t maxBytes)
    : m_maxFrames(maxFrames), m_maxBytes(maxBytes) {}

void RtmpFrameQueue::push(RtmpFramePtr frame) {
    if (frame == nullptr) {
        return;
    }
    bool wake = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_needKey && !frame->key) {
            if (frame->video) {
                ++m_dropped;
                return;
            }
            // Audio while no picture may be sent: kept as the next key picture's lead-in.
            const int64_t now = frame->timeMs;
            m_bytes += frame->bytes.size();
            m_frames.push_back(std::move(frame));
            while (m_frames.size() > kMaxLeadIn || m_frames.front()->timeMs + kLeadInMs < now) {
                dropFrontLocked();
            }
            m_ready.notify_one();
            return;
        }
        m_needKey = false;
        bool overflowed = false;
        while (!m_frames.empty() &&
               (m_frames.size() >= m_maxFrames || m_bytes + frame->bytes.size() > m_maxBytes)) {
            dropFrontLocked();
            dropUntilKeyLocked();
            overflowed = true;
        }
        if (overflowed && m_frames.empty() && !frame->key) {
            // Everything up to here is gone: the next picture the server gets is a key one.
            m_needKey = true;
            ++m_dropped;
            return;
        }
        // Audio between pictures rides with the next one: a wake-up per frame is most of a
        // push's cost at real-time pace. An audio-only stream's frames are all key frames.
        wake = frame->video || frame->key || m_frames.size() >= kWakeBacklog;
        m_bytes += frame->bytes.size();
        m_frames.push_back(std::move(frame));
    }
    if (wake) {
        m_ready.notify_one();
    }
}

RtmpFramePtr RtmpFrameQueue::pop(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_ready.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                     [this] { return !m_frames.empty() || m_woken; });
    if (m_woken || m_frames.empty()) {
        m_woken = false;
        return nullptr;
    }
    RtmpFramePtr frame = std::move(m_frames.front());
    m_frames.pop_front();
    m_bytes -= frame->bytes.size();
    return frame;
}

void RtmpFrameQueue::skipToNewestKey() {
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t newest = m_frames.size();
    for (size_t i = m_frames.size(); i-- > 0;) {
        if (m_frames[i]->key) {
            newest = i;
            break;
        }
    }
    size_t first = newest;
    while (newest < m_frames.size() && first > 0 && !m_frames[first - 1]->video &&
           m_frames[first - 1]->timeMs + kLeadInMs >= m_frames[newest]->timeMs) {
        --first;  // the audio just ahead of the key picture goes with it
    }
    while (first-- > 0) {
        dropFrontLocked();
    }
    if (m_frames.empty()) {
        m_needKey = true;
    }
}

bool RtmpFrameQueue::waitForKey(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_ready.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                     [this] { return hasKeyLocked() || m_woken; });
    m_woken = false;
    return hasKeyLocked();
}

void RtmpFrameQueue::wake() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_woken = true;
    }
    m_ready.notify_all();
}

void RtmpFrameQueue::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
    m_bytes = 0;
    m_needKey = true;
    m_woken = false;
}

uint64_t RtmpFrameQueue::dropped() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}

size_t RtmpFrameQueue::size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames.size();
}

void RtmpFrameQueue::dropFrontLocked() {
    m_bytes -= m_frames.front()->bytes.size();
    m_frames.pop_front();
    ++m_dropped;
}

void RtmpFrameQueue::dropUntilKeyLocked() {
    while (!m_frames.empty() && !m_frames.front()->key) {
        dropFrontLocked();
    }
}

bool RtmpFrameQueue::hasKeyLocked() const {
    for (const RtmpFramePtr& frame : m_frames) {
        if (frame->key) {
            return true;
        }
    }
    return false;
}

}  // namespace av
