#pragma once
// The status records the media process sends over the media link. Each record is copied
// whole from a datagram's payload, so the layouts must match the media process byte for
// byte: only the named fields are read here, the other bytes are carried unchanged.
// Texts are zero-terminated when the media process fills them, but are always read with
// their array size as the bound.

#include <cstddef>
#include <cstdint>

namespace enc {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the media link carries little-endian integers copied as they are");

/// Input signal (code 4715).
struct InputSignalRecord {
    uint8_t reserved0[6];
    uint16_t signalFlags;  // bit 0 or bit 1: a signal is present
    uint16_t scanType;     // 'P', 'I', 'L', 'N', 'D', 'V' or 'S'
    uint16_t width;
    uint16_t height;
    uint16_t rate;  // frames or fields per second
};
static_assert(sizeof(InputSignalRecord) == 16, "input signal record is 16 bytes");
static_assert(offsetof(InputSignalRecord, signalFlags) == 6, "signalFlags at 6");
static_assert(offsetof(InputSignalRecord, scanType) == 8, "scanType at 8");
static_assert(offsetof(InputSignalRecord, width) == 10, "width at 10");
static_assert(offsetof(InputSignalRecord, height) == 12, "height at 12");
static_assert(offsetof(InputSignalRecord, rate) == 14, "rate at 14");

/// Audio input (code 4716).
struct AudioInputRecord {
    uint8_t reserved0[4];
    char format[8];
    uint32_t sampleRate;
    uint16_t bits;  // 100 marks the analogue line input
    uint8_t reserved1[2];
};
static_assert(sizeof(AudioInputRecord) == 20, "audio input record is 20 bytes");
static_assert(offsetof(AudioInputRecord, format) == 4, "format at 4");
static_assert(offsetof(AudioInputRecord, sampleRate) == 12, "sampleRate at 12");
static_assert(offsetof(AudioInputRecord, bits) == 16, "bits at 16");

/// The value of AudioInputRecord::bits for the analogue line input.
constexpr uint16_t kLineInBits = 100;

/// One stream's entry of the encode status.
struct EncodeStreamEntry {
    int32_t width;
    int32_t height;
    int32_t fps;
    // The RTSP port the media process could not serve the stream on (taken, or below 1024
    // without root); 0 while it serves it or RTSP is off. Zero from a media process that
    // does not know it, as these bytes always were.
    int32_t rtspFailedPort;
    uint8_t reserved[16];
};
static_assert(sizeof(EncodeStreamEntry) == 32, "encode status entries are 32 bytes");
static_assert(offsetof(EncodeStreamEntry, rtspFailedPort) == 12, "rtspFailedPort at 12");

/// Encoder state (code 4717): entry 0 main stream, entry 1 sub stream.
struct EncodeStatusRecord {
    EncodeStreamEntry stream[4];
};
static_assert(sizeof(EncodeStatusRecord) == 128, "encode status record is 128 bytes");

/// Active stream (code 4719).
struct ActiveStreamRecord {
    uint32_t activeStream;  // 0 main, 1 sub, anything else none
    char videoFormat[64];
    char audioFormat[64];
};
static_assert(sizeof(ActiveStreamRecord) == 132, "active stream record is 132 bytes");
static_assert(offsetof(ActiveStreamRecord, videoFormat) == 4, "videoFormat at 4");
static_assert(offsetof(ActiveStreamRecord, audioFormat) == 68, "audioFormat at 68");

/// System status (code 4864). The texts count only when textCount is positive.
struct SystemStatusRecord {
    int32_t textCount;
    char mainInputName[64];
    char subInputName[64];
    char mainVideoText[64];
    char subVideoText[64];
    char audioText[64];
    uint8_t reserved0[4];
    int32_t mainWidth;
    int32_t mainHeight;
    int32_t mainFps;
    int32_t inputFps;
    uint8_t reserved1[4];
    int32_t subWidth;
    int32_t subHeight;
    int32_t subFps;
    uint8_t reserved2[4];
};
static_assert(sizeof(SystemStatusRecord) == 364, "system status record is 364 bytes");
static_assert(offsetof(SystemStatusRecord, mainInputName) == 4, "mainInputName at 4");
static_assert(offsetof(SystemStatusRecord, subInputName) == 68, "subInputName at 68");
static_assert(offsetof(SystemStatusRecord, mainVideoText) == 132, "mainVideoText at 132");
static_assert(offsetof(SystemStatusRecord, subVideoText) == 196, "subVideoText at 196");
static_assert(offsetof(SystemStatusRecord, audioText) == 260, "audioText at 260");
static_assert(offsetof(SystemStatusRecord, mainWidth) == 328, "main width at 328");
static_assert(offsetof(SystemStatusRecord, mainHeight) == 332, "main height at 332");
static_assert(offsetof(SystemStatusRecord, mainFps) == 336, "main fps at 336");
static_assert(offsetof(SystemStatusRecord, inputFps) == 340, "inputFps at 340");
static_assert(offsetof(SystemStatusRecord, subWidth) == 348, "sub width at 348");
static_assert(offsetof(SystemStatusRecord, subHeight) == 352, "sub height at 352");
static_assert(offsetof(SystemStatusRecord, subFps) == 356, "sub fps at 356");

/// RTMP state (code 4866); stored only. rtmpAddress: the push's URL without user
/// information (empty when no stream pushes). rtmpMode: 0 off, 2 connecting, 3 publishing,
/// 4 waiting to retry after a refusal or a lost connection, 5 failed (the stream is H.265);
/// the values of libSluice's SLUICE_STATE_*.
struct RtmpStatusRecord {
    char rtmpAddress[1024];
    int32_t rtmpMode;
    uint8_t reserved[4];
};
static_assert(sizeof(RtmpStatusRecord) == 1032, "RTMP status record is 1032 bytes");
static_assert(offsetof(RtmpStatusRecord, rtmpMode) == 1024, "rtmpMode at 1024");

}  // namespace enc
