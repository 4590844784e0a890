#pragma once
// The datagram exchanged with the media process over the media link, in both directions:
// a 36-byte header followed by `length` payload bytes. Integers are little-endian.

#include <cstddef>
#include <cstdint>

namespace enc {

#pragma pack(push, 1)
struct MediaMessage {
    char magic[4];  // "HT_O" (kind 0) or "HT_V" (kind 1)
    uint32_t reserved0;
    int32_t code;
    int32_t length;   // payload bytes
    int32_t length2;  // the same value again
    uint8_t reserved1[16];
    // payload follows
};
#pragma pack(pop)
static_assert(sizeof(MediaMessage) == 36, "the media message header is 36 bytes");
static_assert(offsetof(MediaMessage, code) == 8, "code at offset 8");
static_assert(offsetof(MediaMessage, length) == 12, "length at offset 12");
static_assert(offsetof(MediaMessage, length2) == 16, "length2 at offset 16");

constexpr size_t kMediaHeaderSize = sizeof(MediaMessage);
// One outgoing message is assembled in a 256-byte buffer, so payloads stop at 220 bytes.
constexpr size_t kMediaSendBufferSize = 256;
constexpr size_t kMediaMaxPayload = kMediaSendBufferSize - kMediaHeaderSize;
// Large enough for the header plus the biggest status record (1032 bytes).
constexpr size_t kMediaReceiveBufferSize = 1400;

/// Change codes sent to the media process (kind 0, no payload).
enum MediaCode : int {
    kCodeUpgradeStarting = 100,  // 0x0064: a firmware image is about to be written
    kCodeAudioChanged = 4704,    // 0x1260: audio or system settings (setAudio, setSysInfo)
    kCodeMainChroma = 4705,      // 0x1261: picture adjustment of the main stream
    kCodeOutputChanged = 4706,   // 0x1262: output settings
    kCodeMainVideo = 4707,       // 0x1263: main stream encoder
    kCodeSubVideo = 4708,        // 0x1264: sub stream encoder
    kCodeMainProtocol = 4709,    // 0x1265: main stream publishing
    kCodeSubProtocol = 4710,     // 0x1266: sub stream publishing ("OPER_GUI_SetSystem_Sub_Live")
    kCodeMainOverlay = 4711,     // 0x1267: main stream overlays and logo
    kCodeSubOverlay = 4712,      // 0x1268: sub stream overlays and logo
    kCodeSubChroma = 4865,       // 0x1301: picture adjustment of the sub stream
};

/// Status codes received from the media process; each payload replaces one record.
enum MediaStatusCode : int {
    kCodeInputSignal = 4715,   // 0x126B, InputSignalRecord
    kCodeAudioInput = 4716,    // 0x126C, AudioInputRecord
    kCodeEncodeStatus = 4717,  // 0x126D, EncodeStatusRecord
    kCodeActiveStream = 4719,  // 0x126F, ActiveStreamRecord
    kCodeSystemStatus = 4864,  // 0x1300, SystemStatusRecord
    kCodeRtmpStatus = 4866,    // 0x1302, RtmpStatusRecord
    // 0x1310: one part of a stream's outputs status (OutputsStatusRecord.h); unlike the
    // codes above it carries its own header and may need several datagrams per update.
    kCodeOutputsStatus = 4880,
};

}  // namespace enc
