#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "RtmpFrame.h"

namespace av {

/// The frames between the writer and the sender thread of a push, bounded in whole frames
/// and bytes. When full, the oldest frames go first, and with them everything up to the next
/// key frame, so that the server never gets a picture whose references it has not seen;
/// when no key frame is left, later frames are refused until the next one arrives. Every
/// frame lost this way is counted. Audio of the last second before the key picture a push
/// starts with goes ahead of it: encoders start the sound a little before the first picture
/// (AAC's priming frame), and a player takes audio first. push never waits; the lock is held
/// only to move pointers.
class RtmpFrameQueue {
public:
    /// About 20 s of a 25 fps stream with 48 kHz AAC, or 16 MiB, whichever comes first.
    static constexpr size_t kMaxFrames = 1500;
    static constexpr size_t kMaxBytes = 16u << 20;
    /// The audio kept ahead of a key picture: at most this old, and this many frames.
    static constexpr int64_t kLeadInMs = 1000;
    static constexpr size_t kMaxLeadIn = 64;
    /// Audio frames that wake the sender without a picture (about 100 ms of 48 kHz AAC).
    static constexpr size_t kWakeBacklog = 5;

    explicit RtmpFrameQueue(size_t maxFrames = kMaxFrames, size_t maxBytes = kMaxBytes);

    /// Queues frame (or counts it dropped while waiting for a key frame).
    void push(RtmpFramePtr frame);
    /// Waits up to timeoutMs for a frame; null when none came or wake() was called.
    RtmpFramePtr pop(int timeoutMs);
    /// Drops every frame before the newest key frame and the audio just ahead of it (all of
    /// them when there is none, and then waits for the next key frame), so that a new
    /// connection starts with one.
    void skipToNewestKey();
    /// Waits up to timeoutMs until a key frame is queued; false when none is.
    bool waitForKey(int timeoutMs);
    /// Ends the current pop or waitForKey at once.
    void wake();
    void clear();

    uint64_t dropped() const;
    size_t size() const;

private:
    void dropFrontLocked();
    void dropUntilKeyLocked();
    bool hasKeyLocked() const;

    const size_t m_maxFrames;
    const size_t m_maxBytes;
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<RtmpFramePtr> m_frames;
    size_t m_bytes = 0;
    bool m_needKey = true;  // a push starts with a key frame
    bool m_woken = false;
    uint64_t m_dropped = 0;
};

}  // namespace av
