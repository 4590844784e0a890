#include "SettingsLimits.h"

namespace enc {

std::vector<FieldLimit<VideoSettings>> videoLimits(int index, int inputFps) {
    return limitsOf<VideoSettings>(index == 0 ? 0 : 1, inputFps);
}

std::vector<FieldLimit<ProtocolSettings>> protocolLimits(int index) {
    return limitsOf<ProtocolSettings>(index == 0 ? 0 : 1);
}

std::vector<FieldLimit<OsdSettings>> overlayLimits(int overlay) {
    return limitsOf<OsdSettings>(overlay == 0 ? 0 : 1);
}

std::vector<FieldLimit<FtpSettings>> clockLimits() {
    return limitsOf<FtpSettings>(0);
}

std::vector<FieldLimit<IrcutSettings>> ircutLimits() {
    return limitsOf<IrcutSettings>(0);
}

}  // namespace enc
