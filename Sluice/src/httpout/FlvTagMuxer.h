#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "MediaCasterConfig.h"
#include "MediaPacket.h"
#include "TsMuxer.h"

namespace av {

/// Receives the FLV tags of each frame.
class FlvTagSink {
public:
    /// One frame's tag (flags 1 on a video key frame, or on every tag of a stream without
    /// video: where a client may start).
    virtual void onFlvTag(const std::shared_ptr<MediaPacket>& tag) = 0;

protected:
    ~FlvTagSink() = default;
};

/// Turns H.264 (Annex B) and AAC frames into FLV tags, one per frame, shared by every
/// client; a client starts with header(): the FLV header, the metadata and the sequence
/// headers. Written by hand rather than with FFmpeg's flv muxer, which writes its header once
/// per output: here every late-joining client needs its own start while the tags are made
/// once. Takes the place of the transport-stream multiplexer in a caster (the TsMuxer
/// interface), so frames arrive through the usual intake with parameter sets joined to key
/// frames. Not thread-safe (the caster's mutex).
class FlvTagMuxer : public TsMuxer {
public:
    explicit FlvTagMuxer(FlvTagSink& sink) : m_tagSink(sink) {}

    /// ENODEV for a video codec other than H.264 (FLV as FFmpeg 5.1 reads it has no H.265).
    int open(const MediaCasterConfig& config) override;
    void close() override { m_open = false; }
    bool isOpen() override { return m_open; }
    bool write(int type, const uint8_t* data, int size, int64_t pts, int duration,
               int flags) override;
    void setSink(TsMuxerSink*) override {}

    /// What a client gets before its first tag; null until the stream's video parameter sets
    /// are known (streams with video).
    std::shared_ptr<MediaPacket> header() const { return m_header; }

private:
    /// Rebuilds the header with the sequence headers known so far.
    void makeHeader();
    /// Milliseconds since the first frame.
    uint32_t tagTime(int64_t pts, int clock);

    FlvTagSink& m_tagSink;
    MediaCasterConfig m_config;
    bool m_open = false;
    bool m_hasVideo = false;
    bool m_hasAudio = false;
    std::string m_sps;
    std::string m_pps;
    std::string m_audioConfig;
    std::shared_ptr<MediaPacket> m_header;
    bool m_haveOrigin = false;
    int64_t m_originUs = 0;
};

}  // namespace av
