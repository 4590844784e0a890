#pragma once
// The live test picture of a stream: scrolling colour bars, a bouncing box and a panel of
// text lines (the time, the stream's settings), drawn into a YUV 4:2:0 picture.

#include <cstdint>
#include <string>
#include <vector>

namespace ksim {

/// A writable YUV 4:2:0 picture (planes owned by the caller).
struct PicturePlanes {
    uint8_t* data[3] = {nullptr, nullptr, nullptr};
    int stride[3] = {0, 0, 0};
    int width = 0;  // luma size, both even
    int height = 0;
};

class TestPicture {
public:
    /// Draws the picture at `seconds` on the stream's timeline. With noSignal the bars give
    /// way to a plain blue field with "NO SIGNAL" in the middle, as an encoder shows it.
    static void render(const PicturePlanes& picture, double seconds,
                       const std::vector<std::string>& lines, bool noSignal);

    /// The text scale that fits the longest line into six tenths of the width and eight
    /// lines into under half the height; at least 1.
    static int textScale(int width, int height, size_t longestLine);
};

}  // namespace ksim
