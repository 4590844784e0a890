#pragma once
// The limits the device enforces on numbers written through the web API, as the clamp rows of
// each document's descriptor (SettingsDocuments.cpp) give them, and the defaults they share
// with EncoderConfigFile. A value outside its limits becomes the row's replacement, the value
// the media process has always been given.

#include <climits>
#include <vector>

#include "EncoderRecords.h"
#include "SettingsDocument.h"

namespace enc {

/// One clamped number of a record R: values outside [low, high] become replacement.
template <class R>
struct FieldLimit {
    int R::*field;
    int low;
    int high;
    int replacement;
};

/// Defaults that both a never-loaded settings file and the clamps use.
namespace defaults {
constexpr int kFramerate = 30;
constexpr int kGop = 30;
constexpr int kHttpPort = 80;
constexpr int kRtspPort = 554;
constexpr int kRtmpPort = 1935;
constexpr int kMulticastPort[2] = {5000, 5001};
constexpr int kTsPort[2] = {20000, 20001};
constexpr int kSrtPort[2] = {9000, 9001};
constexpr int kSrtLatencyMs = 120;  // SRT's own default
constexpr int kSrtKeyLength = 16;   // AES-128
}  // namespace defaults

/// The clamps of a document's rows for one instance (SettingsDocument.h clampInstance); a
/// limit that follows the input becomes inputFps + kInputFpsTolerance.
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

/// Whether a clamp of the document follows the input's measured frame rate.
template <class R>
bool followsInput() {
    for (const DocumentField<R>& f : documentOf<R>().fields) {
        if (f.clamp && (f.clamp->high[0] == kFollowsInput || f.clamp->high[1] == kFollowsInput)) {
            return true;
        }
    }
    return false;
}

/// One limited number of an API document, as the pages show it (GET "/api/limits"): a clamp
/// row (outside, the device stores its replacement) or an Allowed row (outside, refused).
struct PublishedLimit {
    const char* path;  // the document's path under "/api" ("/video")
    const char* jsonKey;
    int low;
    int high[2];  // per instance (stream or overlay); kFollowsInput: the input's rate + tolerance
};

/// Every clamp and Allowed row of every API document, document by document in descriptor order.
std::vector<PublishedLimit> publishedLimits();

/// The encoder settings of stream index (0 main, 1 sub); the main stream's frame rate may
/// follow the input up to 2 fps above its measured rate inputFps.
std::vector<FieldLimit<VideoSettings>> videoLimits(int index, int inputFps);
/// The publishing ports of stream index.
std::vector<FieldLimit<ProtocolSettings>> protocolLimits(int index);
/// Overlay 0 (the text) or 1 (the clock) of either stream.
std::vector<FieldLimit<OsdSettings>> overlayLimits(int overlay);
/// The time zone and the synchronisation interval.
std::vector<FieldLimit<FtpSettings>> clockLimits();
/// The position report interval (no upper limit).
std::vector<FieldLimit<IrcutSettings>> ircutLimits();

/// Replaces every field of record that lies outside its limits.
template <class R>
void applyLimits(R& record, const std::vector<FieldLimit<R>>& limits) {
    for (const FieldLimit<R>& limit : limits) {
        int& value = record.*(limit.field);
        if (value < limit.low || value > limit.high) {
            value = limit.replacement;
        }
    }
}

}  // namespace enc
