#pragma once
// Small H.264 + AAC clips made at test time with Debian's ffmpeg, and their frames read back
// as a caster wants them (Annex B video, AAC as stored).

#include <cstdint>
#include <string>
#include <vector>

#include "MediaCasterConfig.h"
#include "sluice.h"

namespace sluicetest {

struct TestFrame {
    int type = 0;  // 0 video, 1 audio
    std::string bytes;
    int64_t ptsUs = 0;
    bool key = false;
};

struct ClipInfo {
    int width = 0;
    int height = 0;
    int videoProfile = 0;
    int sampleRate = 0;
    int channels = 0;
    int audioProfile = 1;
    std::string audioConfig;  // AudioSpecificConfig of an mp4, empty for ADTS input
};

/// Makes DIR/clip.mp4 (H.264 without B-frames, 25 fps, key frame every second, AAC stereo
/// 48 kHz), plus DIR/clip.h264 and DIR/clip.aac (raw Annex B and ADTS). False when ffmpeg
/// failed; the message is in error.
bool makeClip(const std::string& dir, double seconds, int width, int height, std::string& error);

/// Reads every video (H.264 or H.265, as Annex B) and audio frame of a file in file order.
bool readFrames(const std::string& path, std::vector<TestFrame>& frames, ClipInfo& info,
                std::string& error);

/// The frames of a one-second 320x240 clip made in dir (the casters' usual test input).
inline bool smallClipFrames(const std::string& dir, std::vector<TestFrame>& frames, ClipInfo& info,
                            std::string& error) {
    return makeClip(dir, 1, 320, 240, error) &&
           readFrames(dir + "/clip.mp4", frames, info, error) && !frames.empty();
}

/// The caster configuration for a clip read by readFrames: H.264 and (unless audio is false)
/// AAC, audio timestamps in microseconds like the frames'.
inline av::MediaCasterConfig clipConfig(const ClipInfo& info, bool audio = true) {
    av::MediaCasterConfig c;
    c.videoCodec = SLUICE_CODEC_H264;
    c.width = info.width;
    c.height = info.height;
    if (audio) {
        c.audioCodec = SLUICE_CODEC_AAC;
        c.sampleRate = info.sampleRate;
        c.channels = info.channels;
        c.audioProfile = info.audioProfile;
        c.audioConfig = info.audioConfig;
        c.audioClock = 1000000;
    }
    return c;
}

/// Writes every frame to a caster or multiplexer, timestamps shifted by offsetUs.
template <class Writer>
void writeFrames(Writer& to, const std::vector<TestFrame>& frames, int64_t offsetUs = 0) {
    for (const TestFrame& f : frames) {
        to.write(f.type, reinterpret_cast<const uint8_t*>(f.bytes.data()),
                 static_cast<int>(f.bytes.size()), f.ptsUs + offsetUs, 0, f.key ? 1 : 0);
    }
}

}  // namespace sluicetest
