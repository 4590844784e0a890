#pragma once

#include <cstdint>
#include <string>

#include "TargetCounters.h"

namespace av {

/// One destination of a caster as sluice_get_destination_stats reports it: a UDP/RTP target
/// or a TCP/HTTP/SRT client, or an RTSP session. Plain record.
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
    // RTSP sessions: transport (SLUICE_RTSP_TRANSPORT_*), the client's RTCP port (UDP), and
    // what its RTCP receiver reports said (loss in lostPackets, valid when
    // hasReceiverReport).
    int rtspTransport = 0;
    int rtcpPort = 0;
    uint64_t receiverReports = 0;
    bool hasReceiverReport = false;
    int jitterUs = 0;
    // Pushes (RTMP), HLS and constant-rate outputs; zero where a protocol does not track them.
    int state = 0;  // SLUICE_STATE_*
    std::string stateText;
    uint64_t connects = 0;
    uint64_t reconnects = 0;
    uint64_t frames = 0;
    uint64_t framesDropped = 0;
    int64_t lastSuccessUs = 0;
    uint64_t requests = 0;
    uint64_t clientsSeen = 0;
    uint64_t playlistBytes = 0;
    uint64_t segmentBytes = 0;
    uint64_t overruns = 0;
};

/// The health of a whole output, as sluice_get_output_status reports it. Plain record.
struct OutputStatus {
    int protocol = 0;  // SLUICE_PROTOCOL_*
    int state = 0;     // SLUICE_STATE_*
    int lastErrno = 0;
    std::string stateText;
    uint16_t localPort = 0;
    int destinations = 0;
    uint64_t framesIn = 0;
    uint64_t overruns = 0;
};

}  // namespace av
