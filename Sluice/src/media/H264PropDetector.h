#pragma once

#include <cstddef>
#include <cstdint>

#include "sluice.h"

namespace av {

/// True when n >= 4 and the bytes begin with 00 00 01 or 00 00 00 01.
bool isStartCode(const uint8_t* bytes, size_t n);
/// The first index i, from <= i < n - 4, at which a start code begins; -1 when none.
long findStartCode(const uint8_t* bytes, size_t n, size_t from);

/// Looks at one Annex B video frame (H.264 or H.265): reports the NAL type of its last unit
/// and whether it carries a key picture or parameter sets. Reads only; single-threaded.
class H264PropDetector {
public:
    static constexpr int kH264 = SLUICE_CODEC_H264;
    static constexpr int kH265 = SLUICE_CODEC_H265;

    /// Accepts kH264 and kH265 only; any other value is refused and changes nothing.
    bool setCodec(int codec);
    int codec() const { return m_codec; }

    /// Splits the frame into NAL units. For each unit the type is stored in nalType (so it
    /// ends as the last unit's type) and key types set isKey: H.264 5, 6, 7, 8; H.265 19,
    /// 20, 21, 32, 33, 34, 39. A frame that does not begin with a start code, or a detector
    /// without a codec, reports nothing: isKey and nalType keep the caller's values.
    void parse(const uint8_t* frame, size_t n, bool& isKey, int& nalType) const;

private:
    int m_codec = 0;
};

}  // namespace av
