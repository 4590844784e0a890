#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVBSFContext;
struct AVPacket;

/// One frame read from the input, ready for sluice_write.
struct CastFrame {
    int type = 0;  // 0 video, 1 audio
    std::vector<uint8_t> bytes;
    int64_t ptsUs = 0;       // microseconds, as read (not yet shifted to start at 0)
    int64_t durationUs = 0;  // 0 when unknown
    bool key = false;
};

/// Reads the video and/or audio of one input file with FFmpeg, as ffmpeg -c copy would:
/// H.264/H.265 are turned into Annex B (mp4toannexb bitstream filters, which pass Annex B
/// input through), AAC is handed on as it is (raw or with ADTS).
class MediaReader {
public:
    MediaReader() = default;
    ~MediaReader();
    MediaReader(const MediaReader&) = delete;
    MediaReader& operator=(const MediaReader&) = delete;

    /// Opens the file and picks its best video and audio streams (only those wanted).
    bool open(const std::string& path, bool wantVideo, bool wantAudio, std::string& error);
    void close();
    /// The next frame of the picked streams in file order; false at the end or on error.
    bool next(CastFrame& out);

    bool hasVideo() const { return m_videoIndex >= 0; }
    bool hasAudio() const { return m_audioIndex >= 0; }
    /// True once a video frame's decoding time differed from its presentation time.
    bool sawReorderedFrames() const { return m_reordered; }

    // The stream description in sluice.h's terms.
    int videoCodec = 0;
    int width = 0;
    int height = 0;
    int videoProfile = 0;
    std::string videoConfig;
    int audioCodec = 0;
    int channels = 0;
    int sampleRate = 0;
    int audioProfile = 1;
    std::string audioConfig;

private:
    bool setUpVideo(std::string& error);
    bool setUpAudio(std::string& error);
    bool receiveFiltered(CastFrame& out);
    void toFrame(const AVPacket* packet, int streamIndex, CastFrame& out);

    AVFormatContext* m_input = nullptr;
    AVBSFContext* m_filter = nullptr;
    AVPacket* m_packet = nullptr;
    int m_videoIndex = -1;
    int m_audioIndex = -1;
    int64_t m_nextVideoUs = 0;  // for inputs without timestamps (raw elementary streams)
    int64_t m_nextAudioUs = 0;
    int64_t m_videoIntervalUs = 40000;
    bool m_reordered = false;
    bool m_draining = false;
};
