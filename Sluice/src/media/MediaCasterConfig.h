#pragma once

#include <cstdint>
#include <string>

namespace av {

/// The stream configuration a caster and its multiplexer are opened with, converted from the
/// exported sluice_media_format. Codec identifiers keep the exported numbering (SLUICE_CODEC_*
/// in sluice.h; SLUICE_CODEC_NONE = no such stream); the multiplexer translates them to FFmpeg's.
/// A fresh record is 0 everywhere but configParam12 (16) and configParam13 (1024).
struct MediaCasterConfig {
    int32_t videoCodec = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t videoParam = 0;
    int32_t formatParam15 = 0;
    int32_t videoProfile = 0;
    int32_t videoClock = 0;  // ticks per second of video pts; <= 0 means microseconds
    int32_t audioCodec = 0;
    int32_t audioProfile = 0;  // AAC object type minus one, for ADTS headers
    int32_t channels = 0;
    int32_t sampleRate = 0;
    int32_t configParam12 = 16;
    int32_t configParam13 = 1024;
    int32_t formatParam16 = 0;
    int32_t audioClock = 0;   // ticks per second of audio pts; <= 0 means sampleRate
    std::string videoConfig;  // decoder configuration bytes (parameter sets)
    std::string audioConfig;
};

}  // namespace av
