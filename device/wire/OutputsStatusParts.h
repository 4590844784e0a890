#pragma once
// Splitting one outputs status update into the payloads of its datagrams (code 4880). The
// sender's half of OutputsStatusRecord.h; the reader's half is enc::OutputsState.

#include <algorithm>
#include <cstring>
#include <vector>

#include "OutputsStatusRecord.h"

namespace enc {

/// What one update says about a stream besides its outputs.
struct OutputsStatusTotals {
    uint8_t stream = 0;  // 0 main, 1 sub
    uint32_t sequence = 0;
    uint32_t encoderBitrate = 0;   // bits per second
    uint32_t encoderFpsMilli = 0;  // frames per 1000 seconds
};

/// The payloads of one update, in part order: kOutputsPerPart entries each, at least one part
/// (an update without outputs still tells the encoder's rates). Outputs beyond
/// kMaxOutputsPerUpdate are left out.
inline std::vector<std::vector<uint8_t>> outputsStatusParts(
    const OutputsStatusTotals& totals, const std::vector<OutputStatusEntry>& outputs) {
    const size_t count = std::min(outputs.size(), kMaxOutputsPerUpdate);
    const size_t parts = std::max<size_t>(1, (count + kOutputsPerPart - 1) / kOutputsPerPart);
    std::vector<std::vector<uint8_t>> payloads;
    for (size_t part = 0; part < parts; ++part) {
        const size_t first = part * kOutputsPerPart;
        const size_t entries = std::min(kOutputsPerPart, count - std::min(count, first));
        OutputsStatusHeader header{};
        header.version = kOutputsStatusVersion;
        header.headerSize = sizeof(OutputsStatusHeader);
        header.entrySize = sizeof(OutputStatusEntry);
        header.stream = totals.stream;
        header.sequence = totals.sequence;
        header.partIndex = static_cast<uint8_t>(part);
        header.partCount = static_cast<uint8_t>(parts);
        header.firstOutput = static_cast<uint8_t>(first);
        header.entryCount = static_cast<uint8_t>(entries);
        header.outputCount = static_cast<uint8_t>(count);
        header.encoderBitrate = totals.encoderBitrate;
        header.encoderFpsMilli = totals.encoderFpsMilli;
        std::vector<uint8_t> payload(sizeof header + entries * sizeof(OutputStatusEntry));
        std::memcpy(payload.data(), &header, sizeof header);
        if (entries > 0) {
            std::memcpy(payload.data() + sizeof header, &outputs[first],
                        entries * sizeof(OutputStatusEntry));
        }
        payloads.push_back(std::move(payload));
    }
    return payloads;
}

}  // namespace enc
