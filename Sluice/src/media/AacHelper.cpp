#include "AacHelper.h"

namespace av {
namespace {

constexpr int kSamplingRates[16] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                                    16000, 12000, 11025, 8000,  7350,  0,     0,     0};
constexpr int kFallbackIndex = 8;

}  // namespace

int AacHelper::samplingIndex(int hz) {
    for (int i = 0; i < 13; ++i) {
        if (kSamplingRates[i] == hz) {
            return i;
        }
    }
    return kFallbackIndex;
}

bool AacHelper::hasAdtsHeader(const uint8_t* bytes, size_t n) {
    return bytes != nullptr && n > 6 && bytes[0] == 0xFF && (bytes[1] & 0xF0) == 0xF0;
}

bool AacHelper::makeAdtsHeader(int profile, int hz, int channels, int frameLength, uint8_t* out,
                               size_t outCapacity) {
    if (out == nullptr || outCapacity < kAdtsHeaderSize) {
        return false;
    }
    const unsigned idx = static_cast<unsigned>(samplingIndex(hz));
    const unsigned ch = static_cast<unsigned>(channels) & 7;
    const unsigned length = static_cast<unsigned>(frameLength) & 0x1FFF;
    out[0] = 0xFF;
    out[1] = 0xF1;
    out[2] =
        static_cast<uint8_t>(((static_cast<unsigned>(profile) & 3) << 6) | (idx << 2) | (ch >> 2));
    out[3] = static_cast<uint8_t>(((ch & 3) << 6) | (length >> 11));
    out[4] = static_cast<uint8_t>((length >> 3) & 0xFF);
    out[5] = static_cast<uint8_t>(((length & 7) << 5) | 0x1F);
    out[6] = 0xFC;
    return true;
}

}  // namespace av
