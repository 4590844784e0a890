#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "H264PropDetector.h"
#include "MediaCasterConfig.h"
#include "NaluJoiner.h"
#include "RtmpPusher.h"
#include "RtmpUrl.h"
#include "TsMediaCaster.h"

namespace av {

/// Pushes the stream to one RTMP or RTMPS server (option "url") as FLV: H.264 video and AAC
/// audio, no transport stream. The writer prepares each frame (parameter sets joined to the
/// picture, ADTS headers removed, timestamps on the push's own millisecond time line) and
/// queues it; a sender thread of its own (RtmpPusher) does all the network work, so write
/// never waits for the network. Targets are refused (the URL is the destination).
///
/// H.265 cannot travel in the FLV of the linked FFmpeg: a caster opened for it stays in
/// SLUICE_STATE_FAILED ("RTMP needs H.264") and refuses every frame.
///
/// Options: "url" (rtmp:// or rtmps://, user information allowed and never shown; ""
/// stops pushing), "ca_file" (the CA certificates rtmps:// trusts; "" = the system's
/// store), "tls_verify" ("1" default, "0" accepts any certificate). A change restarts the
/// push with a new connection.
class RtmpTsMediaCaster : public TsMediaCaster {
public:
    static constexpr const char* kNeedsH264 = "RTMP needs H.264";

    RtmpTsMediaCaster() = default;
    ~RtmpTsMediaCaster() override;

    int open(const std::string& ip, uint16_t port, const MediaCasterConfig& config) override;
    void close() override;
    bool isOpen() override;
    uint16_t localPort() override { return 0; }

    void setId(int id) override { m_id = id; }
    int getId() override { return m_id; }
    bool addTarget(const std::string&, uint16_t) override { return false; }
    void removeTarget(const std::string&, uint16_t) override {}
    int targetCount() override { return 0; }
    void removeAllTarget() override {}

    bool write(int type, const uint8_t* data, int size, int64_t pts, int duration,
               int flags) override;
    int setOption(const std::string& name, const std::string& value) override;

    std::vector<DestinationStats> destinationStats() override;
    OutputStatus outputStatus() override;

private:
    /// Starts a new pusher for the current settings (none without URL or when failed) and
    /// returns the one it replaces, to be stopped outside the lock.
    std::shared_ptr<RtmpPusher> restartLocked();
    bool prepareVideo(const uint8_t* data, int size, int64_t pts, RtmpFrame& frame);
    bool prepareAudio(const uint8_t* data, int size, int64_t pts, RtmpFrame& frame);
    int64_t timeLineMs(int64_t pts, int64_t clock);

    std::atomic<int> m_id{0};
    std::mutex m_mutex;  // everything below; never held while a pusher stops
    bool m_open = false;
    bool m_failed = false;  // H.265
    MediaCasterConfig m_config;
    RtmpUrl m_url;
    FlvTlsSettings m_tls;
    std::shared_ptr<RtmpPusher> m_pusher;
    H264PropDetector m_detector;
    std::shared_ptr<NaluJoiner> m_joiner;
    FlvStreams m_streams;
    bool m_streamsSent = false;
    bool m_haveBase = false;
    int64_t m_baseMs = 0;
};

}  // namespace av
