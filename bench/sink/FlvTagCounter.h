#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/// Walks an FLV byte stream as it arrives and counts its media tags: audio and video frames,
/// sequence headers, AVC end-of-sequence tags and script tags left out, so that the count can be
/// set against the frames of the clip.
class FlvTagCounter {
public:
    void feed(const char* data, size_t size);
    uint64_t frames() const { return m_frames; }
    /// The stream did not start with an FLV header.
    bool broken() const { return m_broken; }

private:
    std::string m_head;   // a file header, or a tag header and its first two bytes, so far
    uint64_t m_skip = 0;  // bytes left of the current tag and its trailing size
    bool m_started = false;
    bool m_broken = false;
    uint64_t m_frames = 0;
};
