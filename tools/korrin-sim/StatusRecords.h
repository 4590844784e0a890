#pragma once
// The five status records the media process sends every period, built from the input and
// from what each stream is really encoding.

#include <string>

#include "InputState.h"
#include "MediaRecords.h"

namespace ksim {

/// What one stream is doing right now; all zero while it does not encode.
struct StreamReport {
    bool running = false;
    std::string codec;  // "H.264" or "H.265", as encoded (after any fallback)
    int width = 0;
    int height = 0;
    int fps = 0;
    int bitrateKbps = 0;
    int rtspFailedPort = 0;  // the RTSP port its casters could not open (0: none)
};

/// The audio both streams carry.
struct AudioReport {
    bool running = false;
    int sampleRate = 0;
    int channels = 0;
    int bitrate = 0;  // bits per second
};

struct StatusRecords {
    enc::InputSignalRecord input{};
    enc::AudioInputRecord audio{};
    enc::EncodeStatusRecord encode{};
    enc::SystemStatusRecord system{};
    enc::ActiveStreamRecord active{};
};

/// The records for this state:
/// - input: signal flag bit 0 when present, the scan type, size and rate (zero size and rate
///   without signal);
/// - audio input: "PCM", 48000 Hz, 16 bits (bits 100 for the line input);
/// - encode status: entry 0 main, entry 1 sub, each stream's real size and fps, and the RTSP
///   port it could not open (also while it does not encode);
/// - system status: textCount 5, the input kind as both input names, the input, each
///   stream's and the audio's description, each stream's size and fps, and the input's
///   frame rate;
/// - active stream: 0 while the main stream runs, else 1 while the sub stream runs, else 2
///   (none); the formats of that stream.
StatusRecords buildStatusRecords(const InputState& input, const StreamReport& main,
                                 const StreamReport& sub, const AudioReport& audio);

/// The RTMP record: address (truncated to fit) and mode as RtmpStatusRecord documents.
enc::RtmpStatusRecord buildRtmpRecord(const std::string& address, int mode);

/// The audio input's sample rate and sample size as reported.
constexpr uint32_t kInputSampleRate = 48000;
constexpr uint16_t kInputSampleBits = 16;

}  // namespace ksim
