#pragma once
// What the simulated video input carries: whether a signal is present, its scan type, size
// and rate, and which audio input is in use. The status records describe it and the
// encoders size "0*0" streams from it.

#include <string>

namespace ksim {

struct InputState {
    bool signal = true;
    char scanType = 'P';  // 'P', 'I', 'L', 'N', 'D', 'V' or 'S', as in the input record
    int width = 1920;
    int height = 1080;
    int rate = 60;  // frames per second, fields per second for interlaced scan types
    bool lineIn = false;

    /// Interlaced inputs ('I', 'L', 'N') deliver two fields per frame.
    bool interlaced() const { return scanType == 'I' || scanType == 'L' || scanType == 'N'; }
    int frameRate() const { return interlaced() ? rate / 2 : rate; }
    /// The input's kind as the web pages name it ("HDMI", "CVBS", "DVI", "VGA", "SDI").
    const char* kindName() const;
    /// "1920*1080P60", "720*576I50" or "No Signal".
    std::string describe() const;

    bool operator==(const InputState& o) const {
        return signal == o.signal && scanType == o.scanType && width == o.width &&
               height == o.height && rate == o.rate && lineIn == o.lineIn;
    }
    bool operator!=(const InputState& o) const { return !(*this == o); }
};

/// Applies one setting by key: "signal" (0/1), "scan" (one scan type letter), "size"
/// ("WxH" or "W*H"), "rate" (1-240), "linein" (0/1). False with a reason for an unknown
/// key or a bad value; the state is then unchanged.
bool applyInputSetting(InputState& state, const std::string& key, const std::string& value,
                       std::string& why);

/// Applies a file of "key=value" lines ("#" starts a comment). A missing file changes
/// nothing and succeeds. False with a reason for the first bad line (earlier lines stay
/// applied).
bool applyInputFile(InputState& state, const std::string& path, std::string& why);

/// "1920x1080" or "1920*1080" with both numbers positive and at most 8192.
bool parseSize(const std::string& text, int& width, int& height);

}  // namespace ksim
