#pragma once
// The audio of a stream: a tone (a short beep at the start of every second) encoded with
// FFmpeg's native AAC encoder.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "FfmpegHandles.h"

namespace ksim {

class AudioEncoder {
public:
    /// One raw AAC frame (no ADTS header); pts in samples. Valid only during the callback.
    struct Unit {
        const uint8_t* data;
        int size;
        int64_t pts;
    };
    using Sink = std::function<void(const Unit&)>;

    /// Opens the AAC encoder. A sample rate AAC cannot carry becomes 48000 and a bit rate
    /// outside 16000-320000 becomes 64000; `note` says so. False with a reason on failure.
    bool open(int sampleRate, int channels, int bitrate, std::string& note, std::string& why);
    bool isOpen() const { return m_context != nullptr; }
    /// Releases the encoder; isOpen() is false afterwards.
    void close();

    int sampleRate() const { return m_sampleRate; }
    int channels() const { return m_channels; }
    int bitrate() const { return m_bitrate; }
    /// Samples per frame (1024 for AAC).
    int frameSize() const;
    /// The AudioSpecificConfig for the multiplexer.
    const std::vector<uint8_t>& config() const { return m_config; }

    /// Encodes the next frame of the tone; hands finished frames to sink.
    bool encodeNext(const Sink& sink);

private:
    int m_sampleRate = 0;
    int m_channels = 0;
    int m_bitrate = 0;
    int64_t m_nextSample = 0;
    std::vector<uint8_t> m_config;
    CodecContextPtr m_context;
    FramePtr m_frame;
    PacketPtr m_packet;
};

}  // namespace ksim
