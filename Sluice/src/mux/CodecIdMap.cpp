#include "CodecIdMap.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

#include "sluice.h"

namespace av {
namespace {

struct VideoId {
    int interfaceId;
    AVCodecID ffmpegId;
};

// The exported numbering is libavcodec 57's; only the codecs the casters handle are listed.
constexpr VideoId kVideoIds[] = {
    {SLUICE_CODEC_H264, AV_CODEC_ID_H264},
    {SLUICE_CODEC_H265, AV_CODEC_ID_HEVC},
};

// Audio identifiers kept their numbers: [AV_CODEC_ID_FIRST_AUDIO, AV_CODEC_ID_FIRST_SUBTITLE).
constexpr int kFirstAudio = 0x10000;
constexpr int kFirstSubtitle = 0x17000;
static_assert(AV_CODEC_ID_FIRST_AUDIO == kFirstAudio, "audio ids start at 65536");
static_assert(AV_CODEC_ID_AAC == SLUICE_CODEC_AAC, "AAC keeps its number");

}  // namespace

int CodecIdMap::toFfmpegVideo(int interfaceId) {
    for (const VideoId& id : kVideoIds) {
        if (id.interfaceId == interfaceId) {
            return id.ffmpegId;
        }
    }
    return AV_CODEC_ID_NONE;
}

int CodecIdMap::toFfmpegAudio(int interfaceId) {
    if (interfaceId >= kFirstAudio && interfaceId < kFirstSubtitle) {
        return interfaceId;
    }
    return AV_CODEC_ID_NONE;
}

}  // namespace av
