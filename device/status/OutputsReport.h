#pragma once

#include <cstdint>
#include <string>

#include "OutputsState.h"

namespace enc {

/// One output of a snapshot with its rates over the last update interval.
struct OutputFigures {
    const OutputStatusEntry* entry = nullptr;
    double bitsPerSecond = 0;     // sent, over the interval between the last two updates
    double packetsPerSecond = 0;  // 0 without a comparable previous update
};

/// The outputs status of a stream in the forms people and tools read: the JSON document of
/// "/api/outputs-status" and the names shared with the metrics page.
class OutputsReport {
public:
    /// "UDP", "TCP", "RTP", "HTTP", "SRT", "RTSP", "RTMP", "HLS", "HTTP-FLV"; "other" beyond.
    static const char* protocolName(int protocol);
    /// "off", "serving", "connecting", "publishing", "retrying", "failed"; "unknown" beyond.
    static const char* stateName(int state);

    /// Output i of the snapshot's current update with its rates: against the same output
    /// (same place, protocol and address) of the previous update, when its counters did not
    /// fall (a re-opened output starts again).
    static OutputFigures figures(const OutputsSnapshot& snapshot, size_t i);

    /// The document of stream index:
    /// {"index":N,"stale":B,"ageMs":N,"sequence":N,"encoder":{"bitrate":N,"fps":F},
    ///  "outputs":[{"protocol":T,"address":T,"state":T,"stateText":T,"receivers":N,
    ///   "localPort":N,"bitrate":F,"packetRate":F,"bytes":N,"packets":N,"drops":N,"jams":N,
    ///   "sendErrors":N,"reconnects":N,"lastErrno":N[,"srt":{"rttMs":F,"latencyMs":N,
    ///   "lost":N,"retransmitted":N}]},...]}
    /// "stale" is true (with the last figures kept) when the media process has not reported
    /// for OutputsState::kStaleMs, or never did (ageMs -1, no outputs).
    static std::string json(int index, const OutputsSnapshot& snapshot);
};

}  // namespace enc
