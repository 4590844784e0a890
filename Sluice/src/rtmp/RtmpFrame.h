#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace av {

/// One whole frame on its way to an RTMP server: H.264 as Annex B (parameter sets joined to
/// the picture), AAC without ADTS header. Plain record.
struct RtmpFrame {
    bool video = true;
    bool key = false;    // a key picture; every audio frame of a stream without video
    int64_t timeMs = 0;  // on the push's own time line, which starts at 0 and never goes back
    std::vector<uint8_t> bytes;
};

using RtmpFramePtr = std::shared_ptr<const RtmpFrame>;

}  // namespace av
