#pragma once
// Small H.264 + AAC clips made at test time with Debian's ffmpeg, and their frames read back
// as a caster wants them (Annex B video, AAC as stored).

#include <cstdint>
#include <string>
#include <vector>

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

/// Reads every video and audio frame of a file in file order.
bool readFrames(const std::string& path, std::vector<TestFrame>& frames, ClipInfo& info,
                std::string& error);

}  // namespace sluicetest
