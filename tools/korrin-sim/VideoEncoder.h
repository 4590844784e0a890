#pragma once
// One stream's video encoder: libx264 for "H.264", libx265 for "H.265" (libx264 when the
// installed libavcodec has no libx265), tuned for low latency and little CPU.

#include <cstdint>
#include <functional>
#include <string>

#include "EncodeParams.h"
#include "FfmpegHandles.h"
#include "TestPicture.h"

namespace ksim {

class VideoEncoder {
public:
    /// One encoded access unit in Annex B form, with parameter sets in front of every key
    /// frame. pts counts frames (the time base is 1/fps). Valid only during the callback.
    struct Unit {
        const uint8_t* data;
        int size;
        int64_t pts;
        bool key;
    };
    using Sink = std::function<void(const Unit&)>;

    /// Opens the encoder. H.265 without libx265 falls back to H.264 and says so in `note`.
    /// False with a reason when no encoder could be opened.
    bool open(const EncodeParams& params, std::string& note, std::string& why);
    bool isOpen() const { return m_context != nullptr; }
    /// Releases the encoder; isOpen() is false afterwards.
    void close();
    /// The parameters as encoded (codec after any fallback).
    const EncodeParams& params() const { return m_params; }

    /// The picture to draw the next frame into.
    PicturePlanes picture();
    /// Encodes the picture as frame number `pts` (strictly increasing); forceKey makes it
    /// an IDR frame. Hands every finished unit to sink. False on an encoder error.
    bool encode(int64_t pts, bool forceKey, const Sink& sink);

private:
    EncodeParams m_params;
    CodecContextPtr m_context;
    FramePtr m_frame;
    PacketPtr m_packet;
};

}  // namespace ksim
