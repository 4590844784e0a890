#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "HttpOutMount.h"
#include "SegmentingTsMuxer.h"

namespace av {

/// The HLS side of one stream: the segments of the sliding window in memory, the playlist
/// made from them, and the answers to requests for both. The writer (the caster, its mutex
/// held) appends the multiplexer's output to the segment being written and ends it where
/// the policy says; the server's loop serves what is complete.
///
/// Memory: the window's segments plus the one being written, each at most kMaxSegmentBytes
/// (a segment that grows past it is ended early), plus segments still being sent to a client.
class HlsMount : public HttpOutMount, public SegmentPolicy {
public:
    static constexpr int kDefaultWindow = 6;
    static constexpr int kDefaultSegmentMs = 1000;
    static constexpr size_t kMaxSegmentBytes = 8 * 1024 * 1024;
    /// Clients count as seen for this long after their last request.
    static constexpr int64_t kSeenWindowMs = 30000;

    /// name: the path without suffix ("/sub": "/sub.m3u8", "/sub-7.ts").
    explicit HlsMount(std::string name) : m_name(std::move(name)) {}

    std::string key() const override;
    bool serve(const std::string& path, uint32_t peer, bool head, HttpOutReply& reply) override;

    /// Name and window length may change while mounted off the server only.
    void setName(const std::string& name) override;
    std::string name() const override;
    void setWindow(int segments);
    /// Segments end at the first key frame this long after their start, so a stream whose
    /// key frames are further apart gets one segment per GOP.
    void setSegmentMs(int ms) { m_segmentMs = ms; }

    // Writer side.
    bool startsSegment(int64_t ptsUs, bool key) override;
    void onSegmentEnd(int64_t ptsUs, bool key) override;
    void append(const uint8_t* data, size_t size);
    /// Forgets every segment (the stream closes).
    void reset();

    struct Counters {
        uint64_t requests = 0;
        uint64_t clientsSeen = 0;
        uint64_t playlistBytes = 0;
        uint64_t segmentBytes = 0;
        uint64_t segments = 0;
        uint64_t lastSequence = 0;
    };
    Counters counters();

private:
    struct Segment {
        uint64_t sequence = 0;
        double seconds = 0;
        std::string dateTime;
        std::shared_ptr<const std::string> bytes;
    };
    /// The playlist text; m_mutex held.
    std::string playlistLocked() const;
    /// The segment file name ("sub-7.ts"), relative to the playlist.
    std::string segmentName(uint64_t sequence) const;
    /// Notes a client's request; m_mutex held.
    void seeLocked(uint32_t peer);

    mutable std::mutex m_mutex;  // a leaf
    std::string m_name;
    size_t m_window = kDefaultWindow;
    std::deque<Segment> m_segments;
    uint64_t m_nextSequence = 0;
    std::map<uint32_t, int64_t> m_seen;  // client address -> last request (steady ms)
    uint64_t m_requests = 0;
    uint64_t m_playlistBytes = 0;
    uint64_t m_segmentBytes = 0;

    // Writer only.
    std::atomic<int> m_segmentMs{kDefaultSegmentMs};
    std::string m_current;
    bool m_started = false;       // m_current began with a key frame
    int64_t m_startUs = 0;        // its first frame's time
    std::string m_startDateTime;  // and the wall clock then
};

}  // namespace av
