#pragma once

#include <cstdint>

namespace av {

/// What one destination of a caster has been given, for the per-destination statistics.
/// Plain record; every figure counts from the moment the destination was added.
struct TargetCounters {
    uint64_t datagrams = 0;  // datagrams (or blocks, for stream clients) handed to the system
    uint64_t bytes = 0;      // their bytes, headers included
    uint64_t sendErrors = 0;
    int lastErrno = 0;     // of the last failed send; 0 when none failed
    uint64_t dropped = 0;  // datagrams or blocks this destination never got
    uint64_t jamEpisodes = 0;
    uint64_t backlogBytes = 0;  // queued for it and not yet handed to the system
};

}  // namespace av
