#pragma once

#include <memory>

#include "MediaCasterConfig.h"
#include "MediaPacket.h"

namespace av {

/// Anything that consumes a caster's output: told the stream format once, then given
/// packets. Packets are shared and must not be modified by a sink.
class MediaSink {
public:
    virtual ~MediaSink() = default;
    virtual void onMediaFormat(const MediaCasterConfig& config) = 0;
    virtual void onMediaPacket(std::shared_ptr<MediaPacket> packet) = 0;
    /// A notification; no implementation in the library gives the value a meaning.
    virtual void onMediaEvent(int event) = 0;
};

}  // namespace av
