#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace av {

/// One datagram of a cast, copied once from the multiplexer's block and then shared (by
/// reference) by every target it goes to. Immutable once queued.
struct Datagram {
    /// A 12-byte RTP header in front of the largest multiplexer block (seven TS packets).
    static constexpr size_t kMaxSize = 12 + 1316;

    /// False when header plus payload would not fit (nothing is copied then).
    bool assign(const uint8_t* header, size_t headerSize, const uint8_t* payload,
                size_t payloadSize) {
        if (headerSize + payloadSize > kMaxSize) {
            return false;
        }
        if (headerSize > 0) {
            std::memcpy(bytes, header, headerSize);
        }
        std::memcpy(bytes + headerSize, payload, payloadSize);
        size = headerSize + payloadSize;
        return true;
    }

    size_t size = 0;
    /// Constant-rate streams: when its bytes are due by the stream's byte clock (monotonic
    /// nanoseconds); 0 = as soon as the pace allows.
    int64_t dueNs = 0;
    uint8_t bytes[kMaxSize];
};

}  // namespace av
