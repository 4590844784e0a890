#pragma once
// The outputs status (code 4880) of both streams, from libSluice's figures: one update per
// stream and period, split into the datagrams of the media link.

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "OutputsStatusParts.h"
#include "StreamCasters.h"

namespace ksim {

/// Not thread safe: the main loop's own.
class OutputsReporter {
public:
    using Clock = std::chrono::steady_clock;

    /// The payloads of stream's next update: every output with its state and counters, and
    /// the encoder's rates measured since the previous update from its running totals.
    std::vector<std::vector<uint8_t>> update(int stream, const std::vector<OpenedOutput>& outputs,
                                             int64_t videoFrames, int64_t videoBytes,
                                             Clock::time_point now);

private:
    /// The counters of one destination or one output.
    struct Counts {
        uint64_t bytes = 0, packets = 0, drops = 0, jams = 0, sendErrors = 0, lost = 0,
                 retransmitted = 0, reconnects = 0;
    };
    /// The totals of one output: libSluice counts per destination, and a receiver that leaves
    /// takes its counts along, so the totals add what each destination gained since the last
    /// look and never fall.
    struct Totals {
        Counts sum;
        std::map<std::string, Counts> seen;  // by destination (address, port, connection)
    };

    enc::OutputStatusEntry entryOf(int stream, const OpenedOutput& output);

    uint32_t m_sequence[2] = {0, 0};
    int64_t m_lastFrames[2] = {0, 0};
    int64_t m_lastBytes[2] = {0, 0};
    Clock::time_point m_lastAt[2];
    std::map<std::string, Totals> m_totals;  // by stream, handle and address
};

}  // namespace ksim
