#pragma once

#include <cstdint>

namespace av {

enum MediaType { kVideoFrame = 0, kAudioFrame = 1 };
enum MediaFlag { kKeyFrame = 1 };

/// A view of one frame as handed to a caster: the bytes are not owned.
/// Video: one Annex B access unit. Audio: one AAC frame (with or without ADTS) or one
/// frame of another codec.
struct MediaFrame {
    int32_t type = kVideoFrame;
    const uint8_t* data = nullptr;
    int32_t size = 0;
    int64_t pts = 0;  // in the stream's clock (videoClock or audioClock)
    int32_t duration = 0;
    int32_t flags = 0;  // bit 0: key frame
};

}  // namespace av
