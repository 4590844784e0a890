#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "RtpPacketizer.h"

namespace av {

/// What the sessions of one stream need to know of it; fixed when the caster opens.
struct RtspStreamInfo {
    static constexpr int kMaxTracks = 2;
    int trackCount = 0;
    uint32_t clockRate[kMaxTracks] = {};
    int payloadType[kMaxTracks] = {};
    bool isVideo[kMaxTracks] = {};
};

/// Limits and options of one stream's sessions (set by the caster's options).
struct RtspMountSettings {
    /// Sessions at a time; a device serves a handful of recorders and players, and each
    /// session costs sockets and sending time.
    int maxSessions = 64;
    /// Seconds without RTSP or RTCP from a client after which its session ends (RFC 2326's
    /// default).
    int timeoutSeconds = 60;
    std::string authFile;        // empty: no authentication
    std::string multicastGroup;  // empty: multicast not offered
    int multicastPort = 0;
    int multicastTtl = 16;
};

/// One stream served under a path of an RTSP server: the caster (writing thread) publishes
/// frames and its SDP here, the server's loop takes them. The path and settings belong to
/// the server's loop; everything under publishMutex is shared with the writer.
class RtspMount {
public:
    /// Frames waiting for the loop, at most: about four seconds of video and audio. The loop
    /// takes them at once unless it is stalled; beyond this the oldest are dropped.
    static constexpr size_t kMaxInbox = 256;

    RtspMount(std::string path, int casterId, const RtspStreamInfo& info)
        : m_path(std::move(path)), m_casterId(casterId), m_info(info) {}

    const RtspStreamInfo& info() const { return m_info; }
    int casterId() const { return m_casterId; }

    // Loop thread only.
    const std::string& path() const { return m_path; }
    void setPath(const std::string& path) { m_path = path; }
    RtspMountSettings& settings() { return m_settings; }

    /// Writer: a frame for every session (false when the inbox overflowed and dropped one).
    bool publish(std::shared_ptr<const RtpFrame> frame, int64_t nowUs) {
        std::lock_guard<std::mutex> lock(m_publishMutex);
        m_clockPtsUs = frame->ptsUs;
        m_clockAtUs = nowUs;
        m_inbox.push_back(std::move(frame));
        if (m_inbox.size() > kMaxInbox) {
            m_inbox.pop_front();
            return false;
        }
        return true;
    }
    /// Loop: every waiting frame.
    std::deque<std::shared_ptr<const RtpFrame>> take() {
        std::lock_guard<std::mutex> lock(m_publishMutex);
        std::deque<std::shared_ptr<const RtpFrame>> frames;
        frames.swap(m_inbox);
        return frames;
    }
    void setSdpMedia(std::string media) {
        std::lock_guard<std::mutex> lock(m_publishMutex);
        m_sdpMedia = std::move(media);
    }
    std::string sdpMedia() {
        std::lock_guard<std::mutex> lock(m_publishMutex);
        return m_sdpMedia;
    }
    /// The stream's time (microseconds of its timestamps) at monotonic time nowUs: the last
    /// frame's, advanced by the time since it came. 0 before the first frame.
    int64_t mediaUs(int64_t nowUs) {
        std::lock_guard<std::mutex> lock(m_publishMutex);
        return m_clockAtUs == 0 ? 0 : m_clockPtsUs + (nowUs - m_clockAtUs);
    }
    bool hasMediaClock() {
        std::lock_guard<std::mutex> lock(m_publishMutex);
        return m_clockAtUs != 0;
    }

private:
    std::string m_path;
    const int m_casterId;
    const RtspStreamInfo m_info;
    RtspMountSettings m_settings;

    std::mutex m_publishMutex;
    std::deque<std::shared_ptr<const RtpFrame>> m_inbox;
    std::string m_sdpMedia;
    int64_t m_clockPtsUs = 0;
    int64_t m_clockAtUs = 0;
};

}  // namespace av
