#pragma once

#include <cstddef>
#include <cstdint>

namespace av {

/// The 7-byte ADTS header that MPEG-TS needs in front of every AAC frame.
class AacHelper {
public:
    static constexpr size_t kAdtsHeaderSize = 7;

    /// Index of hz in the sampling-frequency table of ISO/IEC 14496-3; 8 (16 kHz) when the
    /// rate is not in the table.
    static int samplingIndex(int hz);
    /// n > 6, first byte 0xFF, top four bits of the second byte set.
    static bool hasAdtsHeader(const uint8_t* bytes, size_t n);
    /// Writes 7 bytes: MPEG-4, no CRC, buffer fullness 0x7FF, one raw data block.
    /// profile is the object type minus one (1 = AAC LC); frameLength includes the header.
    /// False without writing when outCapacity is below 7.
    static bool makeAdtsHeader(int profile, int hz, int channels, int frameLength, uint8_t* out,
                               size_t outCapacity);
};

}  // namespace av
