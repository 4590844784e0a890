#include "SettingsLimits.h"

#include "SettingsDocument.h"

namespace enc {

namespace {

// The clamps of a document's rows for one instance (stream or overlay).
template <class R>
std::vector<FieldLimit<R>> limitsOf(int instance, int inputFps = 0) {
    std::vector<FieldLimit<R>> limits;
    for (const DocumentField<R>& f : documentOf<R>().fields) {
        if (!f.clamp) {
            continue;
        }
        const int high = f.clamp->high[instance];
        limits.push_back({std::get<int R::*>(f.member), f.clamp->low,
                          high == kFollowsInput ? inputFps + kInputFpsTolerance : high,
                          f.clamp->replacement[instance]});
    }
    return limits;
}

}  // namespace

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
