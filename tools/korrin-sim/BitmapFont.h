#pragma once
// A tiny 5x7 bitmap font (ASCII 32-95; lower case is drawn as upper case) for writing into
// an 8-bit picture plane, so the test picture needs no font files or filters.

#include <cstdint>
#include <string>

namespace ksim {

class BitmapFont {
public:
    static constexpr int kGlyphWidth = 5;
    static constexpr int kGlyphHeight = 7;
    static constexpr int kAdvance = kGlyphWidth + 1;  // one blank column between glyphs

    /// Whether the dot at column x (0-4), row y (0-6) of the glyph for c is set. Characters
    /// outside the font are drawn as '?'.
    static bool dot(char c, int x, int y);

    /// Width and height in pixels of text drawn at the given scale.
    static int textWidth(const std::string& text, int scale) {
        return text.empty() ? 0 : (int(text.size()) * kAdvance - 1) * scale;
    }
    static int textHeight(int scale) { return kGlyphHeight * scale; }

    /// Writes `value` into every pixel of the text's dots, each dot scale x scale pixels,
    /// top-left corner at (x, y). Pixels outside the plane are left out.
    static void draw(uint8_t* plane, int stride, int width, int height, int x, int y, int scale,
                     const std::string& text, uint8_t value);
};

}  // namespace ksim
