#include "SettingsLimits.h"

namespace enc {

namespace {

constexpr int kMaxPort = 65535;
// The main stream may follow the input up to this many fps above its measured rate.
constexpr int kInputFpsTolerance = 2;
// H.264/H.265 quantiser range the encoder accepts.
constexpr int kMinQp = 12;
constexpr int kMaxQp = 51;
// The overlay engine's largest font step and fully opaque value.
constexpr int kMaxFontSize = 7;
constexpr int kMaxOpacity = 128;
constexpr int kDefaultOpacity = 5;
// Position reports more often than this would flood the media process.
constexpr int kMinGpsInterval = 20;

}  // namespace

std::vector<FieldLimit<VideoSettings>> videoLimits(int index, int inputFps) {
    const bool main = index == 0;
    return {
        {&VideoSettings::framerate, 15, main ? inputFps + kInputFpsTolerance : 30,
         defaults::kFramerate},
        {&VideoSettings::gop, 2, 200, defaults::kGop},
        {&VideoSettings::bitrate, 256, 12000, main ? 2500 : 1000},
        {&VideoSettings::minQp, kMinQp, kMaxQp, kMinQp},
        {&VideoSettings::maxQp, kMinQp, kMaxQp, 40},
    };
}

std::vector<FieldLimit<ProtocolSettings>> protocolLimits(int index) {
    const int stream = index == 0 ? 0 : 1;
    return {
        {&ProtocolSettings::httpPort, 1, kMaxPort, defaults::kHttpPort},
        {&ProtocolSettings::rtspPort, 1, kMaxPort, defaults::kRtspPort},
        // Both streams fall back to the main stream's group port, as they always did.
        {&ProtocolSettings::multicastPort, 1, kMaxPort, defaults::kMulticastPort[0]},
        {&ProtocolSettings::rtmpPort, 1, kMaxPort, defaults::kRtmpPort},
        {&ProtocolSettings::tsPort, 1, kMaxPort, defaults::kTsPort[stream]},
        {&ProtocolSettings::tsHttpPort, 1, kMaxPort, stream == 0 ? 8081 : 8082},
    };
}

std::vector<FieldLimit<OsdSettings>> overlayLimits(int overlay) {
    if (overlay == 0) {
        return {
            {&OsdSettings::x, 0, 1920, 10},
            {&OsdSettings::y, 0, 1080, 10},
            {&OsdSettings::fontSize, 1, kMaxFontSize, 2},
            {&OsdSettings::opacity, 0, kMaxOpacity, kDefaultOpacity},
        };
    }
    return {
        {&OsdSettings::x, 0, 8192, 10},
        {&OsdSettings::y, 0, 8192, 500},
        {&OsdSettings::fontSize, 1, kMaxFontSize, 1},
        {&OsdSettings::opacity, 0, kMaxOpacity, kDefaultOpacity},
    };
}

std::vector<FieldLimit<FtpSettings>> clockLimits() {
    return {
        {&FtpSettings::localtimezone, -12, 11, 8},
        {&FtpSettings::ftptime, 0, 24, 1},
    };
}

std::vector<FieldLimit<IrcutSettings>> ircutLimits() {
    return {{&IrcutSettings::gpsInterval, kMinGpsInterval, INT_MAX, kMinGpsInterval}};
}

}  // namespace enc
