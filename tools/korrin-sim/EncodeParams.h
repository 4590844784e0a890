#pragma once
// One stream's encoding parameters, worked out from its video settings and the input.

#include <string>

#include "EncoderRecords.h"
#include "InputState.h"

namespace ksim {

struct EncodeParams {
    std::string codec = "H.264";  // "H.264" or "H.265"
    int width = 0;
    int height = 0;
    int fps = 0;
    int gop = 0;
    int bitrateKbps = 0;
    /// Constant bit rate: the stream carries bitrateKbps whatever the picture (padded with
    /// filler when the picture needs less), as a hardware encoder's CBR mode does. False:
    /// bitrateKbps is a ceiling, an easy picture takes less.
    bool cbr = false;

    /// "H.264 1280*720 30fps gop 30 2000kbit/s CBR"
    std::string describe() const;
    bool operator==(const EncodeParams& o) const {
        return codec == o.codec && width == o.width && height == o.height && fps == o.fps &&
               gop == o.gop && bitrateKbps == o.bitrateKbps && cbr == o.cbr;
    }
    bool operator!=(const EncodeParams& o) const { return !(*this == o); }
};

/// The largest picture a "0*0" stream gets: the input is scaled down to fit it, keeping its
/// shape, so the demo stays within about one core (index 0 main: 1280x720, 1 sub: 640x360).
void demoBound(int index, int& width, int& height);

/// The parameters of stream `index` (0 main, 1 sub):
/// - codec "H.265" stays, anything else becomes "H.264";
/// - resolution "W*H" (or "WxH") is taken, clamped to 64..3840 x 64..2160; "0*0" or an
///   unreadable text takes the input size (1920x1080 without signal) scaled to the demo
///   bound; both sides are rounded down to even numbers (4:2:0 chroma);
/// - frame rate 1..60 (30 when outside), and never above the input's frame rate while a
///   signal is present;
/// - GOP 1..600 (the frame rate when outside); bit rate 64..20000 kbit/s (2000 when outside);
/// - bitmode 1 is variable bit rate, 0 constant (as the video page offers them); any other
///   value is taken as constant, with a note.
/// `note` receives a remark when a value was replaced (empty otherwise).
EncodeParams encodeParamsFor(int index, const enc::VideoSettings& video, const InputState& input,
                             std::string* note = nullptr);

}  // namespace ksim
