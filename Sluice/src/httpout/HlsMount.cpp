#include "HlsMount.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace av {

namespace {

int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// ISO 8601 in UTC with milliseconds, as #EXT-X-PROGRAM-DATE-TIME wants it.
std::string wallClockText() {
    const auto now = std::chrono::system_clock::now();
    const int64_t ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

}  // namespace

std::string HlsMount::key() const {
    return name() + ".m3u8";
}

std::string HlsMount::name() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_name;
}

void HlsMount::setName(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_name = name;
}

void HlsMount::setWindow(int segments) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_window = static_cast<size_t>(segments);
    while (m_segments.size() > m_window) {
        m_segments.pop_front();
    }
}

std::string HlsMount::segmentName(uint64_t sequence) const {
    const std::string base = m_name.substr(m_name.rfind('/') + 1);
    return base + "-" + std::to_string(sequence) + ".ts";
}

std::string HlsMount::playlistLocked() const {
    double longest = 1;
    for (const Segment& s : m_segments) {
        longest = std::max(longest, s.seconds);
    }
    std::string text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" +
                       std::to_string(static_cast<int>(std::ceil(longest))) +
                       "\n#EXT-X-MEDIA-SEQUENCE:" + std::to_string(m_segments.front().sequence) +
                       "\n";
    char line[64];
    for (const Segment& s : m_segments) {
        std::snprintf(line, sizeof line, "#EXTINF:%.3f,\n", s.seconds);
        text +=
            "#EXT-X-PROGRAM-DATE-TIME:" + s.dateTime + "\n" + line + segmentName(s.sequence) + "\n";
    }
    return text;
}

void HlsMount::seeLocked(uint32_t peer) {
    const int64_t now = steadyMs();
    ++m_requests;
    m_seen[peer] = now;
    for (auto it = m_seen.begin(); it != m_seen.end();) {
        it = now - it->second > kSeenWindowMs ? m_seen.erase(it) : std::next(it);
    }
}

bool HlsMount::serve(const std::string& path, uint32_t peer, bool head, HttpOutReply& reply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (path == m_name + ".m3u8") {
        seeLocked(peer);
        if (m_segments.empty()) {
            reply.head = HttpOutHead::error(404, "Not Found");  // the first segment is coming
            return true;
        }
        auto body = std::make_shared<const std::string>(playlistLocked());
        reply.head = HttpOutHead::ok("application/vnd.apple.mpegurl", body->size(), "no-cache");
        if (!head) {
            m_playlistBytes += body->size();
            reply.body = std::move(body);
        }
        return true;
    }
    const std::string dir = m_name.substr(0, m_name.rfind('/') + 1);
    const std::string prefix = dir + m_name.substr(dir.size()) + "-";
    if (path.size() <= prefix.size() + 3 || path.compare(0, prefix.size(), prefix) != 0 ||
        path.compare(path.size() - 3, 3, ".ts") != 0) {
        return false;
    }
    const std::string digits = path.substr(prefix.size(), path.size() - prefix.size() - 3);
    if (digits.empty() || digits.size() > 19 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    seeLocked(peer);
    const uint64_t sequence = std::stoull(digits);
    for (const Segment& s : m_segments) {
        if (s.sequence == sequence) {
            // A segment never changes: caches may keep it while it can be in a playlist.
            reply.head = HttpOutHead::ok("video/MP2T", s.bytes->size(), "max-age=60");
            if (!head) {
                m_segmentBytes += s.bytes->size();
                reply.body = s.bytes;
            }
            return true;
        }
    }
    reply.head = HttpOutHead::error(404, "Not Found");  // left the window, or not yet made
    return true;
}

bool HlsMount::startsSegment(int64_t ptsUs, bool key) {
    if (!m_started) {
        return key;  // the first segment starts at a key frame; what comes before is dropped
    }
    if (m_current.size() > kMaxSegmentBytes) {
        return true;
    }
    // Half a frame early still counts: timestamps jitter.
    return key && ptsUs - m_startUs >= static_cast<int64_t>(m_segmentMs.load()) * 1000 - 20000;
}

void HlsMount::onSegmentEnd(int64_t ptsUs, bool key) {
    if (m_started && ptsUs > m_startUs) {
        Segment segment;
        segment.seconds = static_cast<double>(ptsUs - m_startUs) / 1e6;
        segment.dateTime = m_startDateTime;
        segment.bytes = std::make_shared<const std::string>(std::move(m_current));
        std::lock_guard<std::mutex> lock(m_mutex);
        segment.sequence = m_nextSequence++;
        m_segments.push_back(std::move(segment));
        while (m_segments.size() > m_window) {
            m_segments.pop_front();
        }
    }
    m_current.clear();
    m_current.reserve(256 * 1024);
    m_started = m_started || key;
    m_startUs = ptsUs;
    m_startDateTime = wallClockText();
}

void HlsMount::append(const uint8_t* data, size_t size) {
    if (m_started) {
        m_current.append(reinterpret_cast<const char*>(data), size);
    }
}

void HlsMount::reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_segments.clear();
    m_current.clear();
    m_started = false;
}

HlsMount::Counters HlsMount::counters() {
    std::lock_guard<std::mutex> lock(m_mutex);
    Counters c;
    const int64_t now = steadyMs();
    for (const auto& seen : m_seen) {
        c.clientsSeen += now - seen.second <= kSeenWindowMs ? 1 : 0;
    }
    c.requests = m_requests;
    c.playlistBytes = m_playlistBytes;
    c.segmentBytes = m_segmentBytes;
    c.segments = m_nextSequence;
    c.lastSequence = m_segments.empty() ? 0 : m_segments.back().sequence;
    return c;
}

}  // namespace av
