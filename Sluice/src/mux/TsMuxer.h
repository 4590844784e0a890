#pragma once

#include <cstdint>

#include "MediaCasterConfig.h"
#include "TsMuxerSink.h"

namespace av {

/// Turns video and audio frames into an MPEG transport stream delivered to a sink.
/// Not thread-safe: the owning caster calls it under its own lock.
class TsMuxer {
public:
    virtual ~TsMuxer() = default;
    /// 0 on success, ENODEV when no stream could be set up, or a negative FFmpeg code.
    virtual int open(const MediaCasterConfig& config) = 0;
    /// Writes the trailer (still delivered to the sink) and releases everything.
    virtual void close() = 0;
    virtual bool isOpen() = 0;
    /// True when the frame was accepted. Output for it may reach the sink during the call.
    virtual bool write(int type, const uint8_t* data, int size, int64_t pts, int duration,
                       int flags) = 0;
    /// The sink is not owned; null stops delivery.
    virtual void setSink(TsMuxerSink* sink) = 0;
    /// Constant transport rate in bits per second for the next open; 0 = variable.
    virtual void setMuxRate(int64_t bitsPerSecond) { (void)bitsPerSecond; }
    /// Frames refused because they would not fit the constant rate in time.
    virtual uint64_t overruns() const { return 0; }
};

}  // namespace av
