#pragma once
// Numbered transport-stream-sized blocks for the stream caster tests: each block tells its
// number, so a client's byte stream shows exactly which blocks arrived, in which order.

#include <cstdint>
#include <string>
#include <vector>

#include "MediaCasterConfig.h"
#include "sluice.h"

namespace sluicetest {

constexpr size_t kBlockSize = 1316;  // what the multiplexer hands over at most

/// 1316 bytes: the number (big-endian) and then a pattern that depends on it.
inline std::string numberedBlock(uint32_t number) {
    std::string block(kBlockSize, '\0');
    for (int i = 0; i < 4; ++i) {
        block[i] = static_cast<char>(number >> (24 - 8 * i));
    }
    for (size_t i = 4; i < kBlockSize; ++i) {
        block[i] = static_cast<char>(number * 31 + i);
    }
    return block;
}

/// The numbers of the blocks in bytes; false when bytes are not whole, intact blocks.
inline bool blockNumbers(const std::string& bytes, std::vector<uint32_t>& numbers) {
    numbers.clear();
    if (bytes.size() % kBlockSize != 0) {
        return false;
    }
    for (size_t at = 0; at < bytes.size(); at += kBlockSize) {
        const auto* b = reinterpret_cast<const uint8_t*>(bytes.data() + at);
        const uint32_t number = static_cast<uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
        if (bytes.compare(at, kBlockSize, numberedBlock(number)) != 0) {
            return false;
        }
        numbers.push_back(number);
    }
    return true;
}

/// An audio-only stream: the multiplexer opens without any codec data.
inline av::MediaCasterConfig audioOnlyConfig() {
    av::MediaCasterConfig config;
    config.audioCodec = SLUICE_CODEC_AAC;
    config.channels = 2;
    config.sampleRate = 48000;
    config.audioProfile = 1;
    return config;
}

}  // namespace sluicetest
