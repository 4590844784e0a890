#pragma once

#include <cstddef>
#include <cstdint>

namespace av {

/// Receives the multiplexer's output: at most 1316 bytes of whole 188-byte TS packets per
/// call, with the 90 kHz timestamp of the last frame written. The bytes are valid only
/// during the call, which runs on the thread that writes frames.
class TsMuxerSink {
public:
    virtual ~TsMuxerSink() = default;
    virtual void onMuxData(const uint8_t* data, size_t size, int64_t pts, int flags) = 0;
};

}  // namespace av
