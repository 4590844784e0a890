#include "EncodeParams.h"

#include <algorithm>
#include <cstdio>

namespace ksim {
namespace {

// x264 and x265 take these comfortably; beyond them the demo machine cannot keep up.
constexpr int kMinSide = 64;
constexpr int kMaxWidth = 3840;
constexpr int kMaxHeight = 2160;
constexpr int kMaxFps = 60;
constexpr int kDefaultFps = 30;
constexpr int kMaxGop = 600;
constexpr int kMinKbps = 64;
constexpr int kMaxKbps = 20000;
constexpr int kDefaultKbps = 2000;
// The video settings' "bitmode" values, as the video page offers them.
constexpr int kBitmodeConstant = 0;
constexpr int kBitmodeVariable = 1;
// Without a signal the encoder still shows its picture at the size a 1080p input would give.
constexpr int kNoSignalWidth = 1920;
constexpr int kNoSignalHeight = 1080;

int even(int value) {
    return value & ~1;
}

void addNote(std::string* note, const std::string& text) {
    if (note != nullptr) {
        *note += (note->empty() ? "" : "; ") + text;
    }
}

}  // namespace

std::string EncodeParams::describe() const {
    char text[96];
    std::snprintf(text, sizeof text, "%s %d*%d %dfps gop %d %dkbit/s %s", codec.c_str(), width,
                  height, fps, gop, bitrateKbps, cbr ? "CBR" : "VBR");
    return text;
}

void demoBound(int index, int& width, int& height) {
    width = index == 0 ? 1280 : 640;
    height = index == 0 ? 720 : 360;
}

EncodeParams encodeParamsFor(int index, const enc::VideoSettings& video, const InputState& input,
                             std::string* note) {
    if (note != nullptr) {
        note->clear();
    }
    EncodeParams p;
    p.codec = video.codec == "H.265" ? "H.265" : "H.264";
    if (video.codec != p.codec) {
        addNote(note, "codec '" + video.codec + "' is not known, using H.264");
    }

    int w = 0;
    int h = 0;
    if (parseSize(video.resolution, w, h)) {
        p.width = even(std::clamp(w, kMinSide, kMaxWidth));
        p.height = even(std::clamp(h, kMinSide, kMaxHeight));
    } else {
        if (video.resolution != "0*0") {
            addNote(note, "resolution '" + video.resolution + "' is not W*H, using the input size");
        }
        const int inW = input.signal ? input.width : kNoSignalWidth;
        const int inH = input.signal ? input.height : kNoSignalHeight;
        int boundW = 0;
        int boundH = 0;
        demoBound(index, boundW, boundH);
        // Scale down only, by the side that is furthest over its bound.
        const double scale = std::min({1.0, double(boundW) / inW, double(boundH) / inH});
        p.width = even(std::max(kMinSide, int(inW * scale)));
        p.height = even(std::max(kMinSide, int(inH * scale)));
    }

    p.fps = video.framerate;
    if (p.fps < 1 || p.fps > kMaxFps) {
        addNote(note, "frame rate " + std::to_string(p.fps) + " is outside 1-60, using 30");
        p.fps = kDefaultFps;
    }
    if (input.signal && input.frameRate() > 0 && p.fps > input.frameRate()) {
        p.fps = input.frameRate();
    }
    p.gop = video.gop >= 1 && video.gop <= kMaxGop ? video.gop : p.fps;
    p.bitrateKbps = video.bitrate;
    if (p.bitrateKbps < kMinKbps || p.bitrateKbps > kMaxKbps) {
        addNote(note, "bit rate " + std::to_string(p.bitrateKbps) +
                          " kbit/s is outside 64-20000, using 2000");
        p.bitrateKbps = kDefaultKbps;
    }
    p.cbr = video.bitmode != kBitmodeVariable;
    if (video.bitmode != kBitmodeConstant && video.bitmode != kBitmodeVariable) {
        addNote(note, "bit rate mode " + std::to_string(video.bitmode) +
                          " is neither 0 (constant) nor 1 (variable), using constant");
    }
    return p;
}

}  // namespace ksim
