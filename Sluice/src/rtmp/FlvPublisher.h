#pragma once

#include <cstdint>
#include <string>

#include "RtmpFrame.h"

struct AVFormatContext;
struct AVIOInterruptCB;

namespace av {

/// What the FLV streams of a push carry, fixed for the life of the caster.
struct FlvStreams {
    bool hasVideo = false;
    int width = 0;
    int height = 0;
    std::string videoConfig;  // H.264 parameter sets, Annex B (FFmpeg writes the avcC)
    bool hasAudio = false;
    int sampleRate = 0;
    int channels = 0;
    std::string audioConfig;  // AudioSpecificConfig
};

/// TLS settings of an rtmps:// push.
struct FlvTlsSettings {
    bool verify = true;  // check the server's certificate and name
    std::string caFile;  // empty: the system's CA store
};

/// One connection of a push: FFmpeg's flv muxer writing into FFmpeg's RTMP client (and its
/// TLS, GnuTLS, for rtmps://). open() returns once the server has accepted the publish and
/// the sequence headers are sent; every FFmpeg call is cut short by the interrupt callback.
/// Used by one thread at a time.
class FlvPublisher {
public:
    FlvPublisher() = default;
    ~FlvPublisher() { close(); }
    FlvPublisher(const FlvPublisher&) = delete;
    FlvPublisher& operator=(const FlvPublisher&) = delete;

    /// 0, or a negative FFmpeg code with error set to a text without the URL's user
    /// information.
    int open(const std::string& url, const FlvStreams& streams, const FlvTlsSettings& tls,
             const AVIOInterruptCB& interrupt, std::string& error);
    /// Sends one frame and flushes it to the connection: 0 or a negative FFmpeg code (error
    /// set). The frame's time must not be before the previous one of its kind.
    int write(const RtmpFrame& frame, std::string& error);
    /// Ends the connection (ends the publish when it can; cut short by the interrupt callback).
    void close();
    /// Bytes handed to the connection since open.
    uint64_t bytes() const;

private:
    AVFormatContext* m_context = nullptr;
    int m_videoIndex = -1;
    int m_audioIndex = -1;
    bool m_headerWritten = false;
};

}  // namespace av
