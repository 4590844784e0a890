#pragma once

#include <cstdint>
#include <string>

/// What ts-check found, by ETSI TR 101 290 indicator, plus the RFC 4445 media delivery
/// index for datagram input. Plain record; times in milliseconds.
struct CheckReport {
    // Priority 1.
    uint64_t syncLoss = 0;
    uint64_t syncByteErrors = 0;
    uint64_t patErrors = 0;
    uint64_t continuityErrors = 0;
    uint64_t pmtErrors = 0;
    uint64_t pidErrors = 0;
    // Priority 2.
    uint64_t transportErrors = 0;
    uint64_t crcErrors = 0;
    uint64_t pcrRepetitionErrors = 0;     // PCR gap above 40 ms
    uint64_t pcrDiscontinuityErrors = 0;  // a jump (over 100 ms or backwards) without the flag
    uint64_t ptsErrors = 0;               // PTS gap above 700 ms on one PID
    uint64_t pcrAccuracyErrors = 0;       // constant-rate streams: a PCR over 500 ns off
    // Figures.
    uint64_t packets = 0;
    uint64_t lostPackets = 0;  // from continuity counter gaps
    double seconds = 0;        // stream time covered (by PCR)
    double maxPcrIntervalMs = 0;
    double maxPatIntervalMs = 0;
    double maxPmtIntervalMs = 0;
    double maxPtsIntervalMs = 0;
    double transportRateBps = 0;  // implied by the PCRs (0: fewer than two)
    double maxPcrAccuracyNs = 0;  // a PCR's largest deviation from that rate
    double nullShare = 0;         // null packets among all packets
    // Datagram input only.
    bool datagrams = false;
    uint64_t datagramCount = 0;
    uint64_t rtpLost = 0;  // sequence gaps
    double maxDelayFactorMs = 0;
    double maxMediaLossRate = 0;  // lost TS packets per second, worst second
    uint64_t largestBurst = 0;    // datagrams back to back

    uint64_t priority1() const {
        return syncLoss + syncByteErrors + patErrors + continuityErrors + pmtErrors + pidErrors;
    }
    uint64_t priority2() const {
        return transportErrors + crcErrors + pcrRepetitionErrors + pcrDiscontinuityErrors +
               ptsErrors + pcrAccuracyErrors;
    }

    std::string text() const;
    std::string json() const;
};
