#include "TestPicture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "BitmapFont.h"

namespace ksim {
namespace {

struct Yuv {
    uint8_t y, u, v;
};

// 75% colour bars in BT.601 limited range: white, yellow, cyan, green, magenta, red, blue,
// black.
constexpr Yuv kBars[8] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                          {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128}};
constexpr Yuv kNoSignalBlue = {41, 240, 110};
// One screen width of bars scrolls by in this many seconds.
constexpr double kScrollSeconds = 8.0;
// The box crosses the picture in this many seconds.
constexpr double kBounceSeconds = 3.0;
constexpr uint8_t kPanelLuma = 16;
constexpr uint8_t kTextLuma = 235;
constexpr uint8_t kBoxLuma = 235;

void fillRect(const PicturePlanes& p, int x0, int y0, int x1, int y1, Yuv colour) {
    x0 = std::clamp(x0 & ~1, 0, p.width);
    y0 = std::clamp(y0 & ~1, 0, p.height);
    x1 = std::clamp((x1 + 1) & ~1, 0, p.width);
    y1 = std::clamp((y1 + 1) & ~1, 0, p.height);
    if (x1 <= x0 || y1 <= y0) {
        return;
    }
    for (int y = y0; y < y1; ++y) {
        std::memset(p.data[0] + y * p.stride[0] + x0, colour.y, size_t(x1 - x0));
    }
    for (int y = y0 / 2; y < y1 / 2; ++y) {
        std::memset(p.data[1] + y * p.stride[1] + x0 / 2, colour.u, size_t((x1 - x0) / 2));
        std::memset(p.data[2] + y * p.stride[2] + x0 / 2, colour.v, size_t((x1 - x0) / 2));
    }
}

// Every row of the bars is the same, so one row per plane is built and copied down.
void drawBars(const PicturePlanes& p, double seconds) {
    const int shift = int(std::fmod(seconds / kScrollSeconds, 1.0) * p.width) & ~1;
    std::vector<uint8_t> rows[3];
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane == 0 ? p.width : p.width / 2;
        const int s = plane == 0 ? shift : shift / 2;
        rows[plane].resize(size_t(w));
        for (int x = 0; x < w; ++x) {
            const Yuv& bar = kBars[((x + s) % w) * 8 / w];
            rows[plane][size_t(x)] = plane == 0 ? bar.y : plane == 1 ? bar.u : bar.v;
        }
        const int h = plane == 0 ? p.height : p.height / 2;
        for (int y = 0; y < h; ++y) {
            std::memcpy(p.data[plane] + y * p.stride[plane], rows[plane].data(), size_t(w));
        }
    }
}

// A triangle wave from 0 to 1 and back over 2 * period.
double bounce(double seconds, double period) {
    const double phase = std::fmod(seconds / period, 2.0);
    return phase < 1.0 ? phase : 2.0 - phase;
}

}  // namespace

int TestPicture::textScale(int width, int height, size_t longestLine) {
    const int byWidth =
        longestLine == 0 ? height : int(width * 0.6 / (double(longestLine) * BitmapFont::kAdvance));
    // Eight lines then fill under half the height, leaving the moving parts in view.
    const int byHeight = height / 180;
    return std::max(1, std::min(byWidth, byHeight));
}

void TestPicture::render(const PicturePlanes& p, double seconds,
                         const std::vector<std::string>& lines, bool noSignal) {
    if (noSignal) {
        fillRect(p, 0, 0, p.width, p.height, kNoSignalBlue);
    } else {
        drawBars(p, seconds);
    }

    const int box = std::max(8, p.height / 6);
    const int boxX = int(bounce(seconds, kBounceSeconds) * (p.width - box));
    const int boxY = int(bounce(seconds, kBounceSeconds * 0.7) * (p.height - box));
    fillRect(p, boxX, boxY, boxX + box, boxY + box, {kBoxLuma, 128, 128});

    size_t longest = 0;
    for (const std::string& line : lines) {
        longest = std::max(longest, line.size());
    }
    const int scale = textScale(p.width, p.height, longest);
    const int lineHeight = (BitmapFont::kGlyphHeight + 3) * scale;
    const int margin = 2 * scale;
    if (!lines.empty()) {
        fillRect(p, margin, margin,
                 margin * 3 + BitmapFont::textWidth(std::string(longest, 'M'), scale),
                 margin * 3 + lineHeight * int(lines.size()) - 3 * scale, {kPanelLuma, 128, 128});
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        BitmapFont::draw(p.data[0], p.stride[0], p.width, p.height, margin * 2,
                         margin * 2 + int(i) * lineHeight, scale, lines[i], kTextLuma);
    }
    if (noSignal) {
        const std::string text = "NO SIGNAL";
        const int big = scale * 2;
        BitmapFont::draw(p.data[0], p.stride[0], p.width, p.height,
                         (p.width - BitmapFont::textWidth(text, big)) / 2,
                         (p.height - BitmapFont::textHeight(big)) / 2, big, text, kTextLuma);
    }
}

}  // namespace ksim
