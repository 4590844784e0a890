#pragma once

#include <cstdint>
#include <vector>

#include "CheckReport.h"

/// TR 101 290 2.4 PCR_accuracy_error and the transport rate: the rate the PCRs themselves
/// imply (bytes from the first PCR to the last over their distance), each PCR's deviation
/// from the value that rate gives for its byte position, and the share of null packets.
/// A constant-rate stream (one that carries null packets) counts every PCR more than
/// kToleranceNs off as a priority-2 error; a variable one, whose PCRs follow no single rate,
/// only has its figures reported. Single-threaded.
class PcrAccuracy {
public:
    /// TR 101 290: PCR accuracy within ±500 ns.
    static constexpr double kToleranceNs = 500;

    /// Every TS packet in order; null: PID 0x1FFF.
    void onPacket(bool null);
    /// The programme's PCR in the packet just counted; discontinuity: it was flagged or
    /// jumped, which starts the measurement afresh.
    void onPcr(int64_t pcr27MHz, bool discontinuity);
    /// Writes the figures (and the errors) into the report.
    void finish(CheckReport& report);

private:
    struct Sample {
        uint64_t packet;
        int64_t pcr;
    };
    std::vector<Sample> m_samples;  // since the last discontinuity
    uint64_t m_packets = 0;
    uint64_t m_nulls = 0;
};
