#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "OutputsStatusRecord.h"

namespace enc {

/// One complete outputs status update of a stream.
struct OutputsUpdate {
    bool valid = false;  // false until the first complete update
    uint32_t sequence = 0;
    uint32_t encoderBitrate = 0;   // bits per second
    uint32_t encoderFpsMilli = 0;  // frames per 1000 seconds
    int64_t receivedMs = 0;        // steady clock, when its last part arrived
    std::vector<OutputStatusEntry> outputs;
};

/// What a reader gets: the last complete update, the one before it (for rates) and its age.
struct OutputsSnapshot {
    OutputsUpdate current;
    OutputsUpdate previous;
    int64_t ageMs = -1;  // -1 when nothing was ever received
    bool stale = true;   // nothing received, or older than OutputsState::kStaleMs
};

/// The last complete outputs status of each stream, assembled from the parts of code 4880.
/// One writer (the main loop, through MediaState) and any number of readers, under the same
/// whole-copy rule as MediaState: an update replaces the stream's previous one only once all
/// its parts are in, so a reader never sees outputs of two updates side by side. A part of a
/// newer update abandons an unfinished one. Times are passed in (steady milliseconds).
class OutputsState {
public:
    /// An update older than this means the media process is not reporting.
    static constexpr int64_t kStaleMs = 5000;
    static constexpr int kStreams = 2;

    /// One part's payload. False (nothing changed) for a part that is malformed: too short
    /// for what its header announces, an unknown stream, sizes or counts out of range.
    bool applyPart(const uint8_t* payload, size_t size, int64_t nowMs);

    /// The stream's state at nowMs; a stream out of range gives an empty, stale snapshot.
    OutputsSnapshot snapshot(int stream, int64_t nowMs) const;

private:
    struct Pending {
        bool active = false;
        uint32_t sequence = 0;
        uint8_t partCount = 0;
        uint64_t partsSeen = 0;  // bit per part index
        size_t entriesSeen = 0;
        OutputsUpdate update;
    };

    mutable std::mutex m_mutex;
    Pending m_pending[kStreams];  // the writer's alone
    OutputsUpdate m_last[kStreams];
    OutputsUpdate m_previous[kStreams];
};

}  // namespace enc
