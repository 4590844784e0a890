#pragma once

#include <cstdint>
#include <string>

#include "TargetCounters.h"

namespace av {

/// One destination of a caster as sluice_get_destination_stats reports it: a UDP/RTP target
/// or a TCP/HTTP client. Plain record.
struct DestinationStats {
    int protocol = 0;  // SLUICE_PROTOCOL_*
    std::string address;
    uint16_t port = 0;
    int64_t connectedSinceUs = 0;  // TCP/HTTP: wall clock at connection; 0 otherwise
    TargetCounters counters;
    // Figures of a transport with its own feedback (SRT), valid when hasTransport is set.
    bool hasTransport = false;
    int rttUs = 0;
    uint64_t lostPackets = 0;
    uint64_t retransmittedPackets = 0;
    uint64_t sendRateBps = 0;
    int latencyMs = 0;
};

}  // namespace av
