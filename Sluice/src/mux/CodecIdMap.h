#pragma once

namespace av {

/// Translates the exported interface's codec identifiers (SLUICE_CODEC_*, libavcodec 57
/// numbering) to those of the FFmpeg this library is linked with. FFmpeg 5.1
/// numbers H.264 and H.265 27 and 173, because a codec was removed from its list; audio
/// identifiers (65536 and above) are the same in both. The only place that knows this.
namespace CodecIdMap {

/// The linked FFmpeg's AVCodecID for a video identifier, or 0 when it has none.
int toFfmpegVideo(int interfaceId);
/// The linked FFmpeg's AVCodecID for an audio identifier, or 0 when it has none.
int toFfmpegAudio(int interfaceId);

}  // namespace CodecIdMap

}  // namespace av
