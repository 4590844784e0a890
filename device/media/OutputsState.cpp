#include "OutputsState.h"

#include <cstring>

namespace enc {
namespace {

// Texts are read with their array size as the bound: a sender's missing terminator stays
// inside the entry.
void terminateTexts(OutputStatusEntry& entry) {
    entry.address[sizeof entry.address - 1] = '\0';
    entry.stateText[sizeof entry.stateText - 1] = '\0';
}

bool plausible(const OutputsStatusHeader& h, size_t size) {
    const size_t maxParts = (kMaxOutputsPerUpdate + kOutputsPerPart - 1) / kOutputsPerPart;
    return h.version >= 1 && h.headerSize >= sizeof h && h.entrySize >= sizeof(OutputStatusEntry) &&
           h.stream < OutputsState::kStreams && h.partCount >= 1 && h.partCount <= maxParts &&
           h.partIndex < h.partCount && h.outputCount <= kMaxOutputsPerUpdate &&
           size_t(h.firstOutput) + h.entryCount <= h.outputCount &&
           size >= h.headerSize + size_t(h.entryCount) * h.entrySize;
}

}  // namespace

bool OutputsState::applyPart(const uint8_t* payload, size_t size, int64_t nowMs) {
    OutputsStatusHeader h;
    if (payload == nullptr || size < sizeof h) {
        return false;
    }
    std::memcpy(&h, payload, sizeof h);
    if (!plausible(h, size)) {
        return false;
    }
    Pending& p = m_pending[h.stream];
    if (!p.active || p.sequence != h.sequence || p.partCount != h.partCount ||
        p.update.outputs.size() != h.outputCount) {
        p = Pending();
        p.active = true;
        p.sequence = h.sequence;
        p.partCount = h.partCount;
        p.update.outputs.assign(h.outputCount, OutputStatusEntry{});
    }
    const uint64_t bit = uint64_t(1) << h.partIndex;
    if ((p.partsSeen & bit) != 0) {
        return true;  // a repeated part changes nothing
    }
    p.partsSeen |= bit;
    p.entriesSeen += h.entryCount;
    for (size_t i = 0; i < h.entryCount; ++i) {
        OutputStatusEntry& entry = p.update.outputs[h.firstOutput + i];
        std::memcpy(&entry, payload + h.headerSize + i * h.entrySize, sizeof entry);
        terminateTexts(entry);
    }
    p.update.encoderBitrate = h.encoderBitrate;
    p.update.encoderFpsMilli = h.encoderFpsMilli;
    if (p.partsSeen != (uint64_t(1) << h.partCount) - 1) {
        return true;
    }
    Pending done = std::move(p);
    p = Pending();
    if (done.entriesSeen != done.update.outputs.size()) {
        return false;  // parts that do not cover the outputs: a sender fault, never shown
    }
    done.update.valid = true;
    done.update.sequence = done.sequence;
    done.update.receivedMs = nowMs;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_previous[h.stream] = std::move(m_last[h.stream]);
    m_last[h.stream] = std::move(done.update);
    return true;
}

OutputsSnapshot OutputsState::snapshot(int stream, int64_t nowMs) const {
    OutputsSnapshot s;
    if (stream < 0 || stream >= kStreams) {
        return s;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        s.current = m_last[stream];
        s.previous = m_previous[stream];
    }
    if (s.current.valid) {
        s.ageMs = nowMs - s.current.receivedMs;
        s.stale = s.ageMs > kStaleMs;
    }
    return s;
}

}  // namespace enc
