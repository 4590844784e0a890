#include "OutputsReporter.h"

#include <algorithm>
#include <cstring>

#include "sluice.h"

namespace ksim {
namespace {

// Destinations asked for at once; an output with more still counts them all in receivers.
constexpr int kStatsCapacity = 64;

template <size_t N>
void copyText(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::strncpy(field, text.c_str(), N - 1);
}

uint64_t gained(uint64_t now, uint64_t before) {
    return now >= before ? now - before : now;
}

}  // namespace

enc::OutputStatusEntry OutputsReporter::entryOf(int stream, const OpenedOutput& output) {
    enc::OutputStatusEntry e{};
    e.protocol = output.protocol;
    copyText(e.address, output.address);
    if (output.handle < 0) {
        e.state = enc::kOutputFailed;
        copyText(e.stateText, output.failure);
        return e;
    }
    sluice_output_status status{};
    status.size = sizeof status;
    if (sluice_get_output_status(output.handle, &status) != 0) {
        e.state = enc::kOutputOff;  // closed since it was listed
        return e;
    }
    e.state = status.state;
    e.lastErrno = status.last_errno;
    e.localPort = status.local_port;
    e.receivers = status.destinations;
    copyText(e.stateText, status.state_text);

    std::vector<sluice_destination_stats> records(kStatsCapacity);
    records[0].size = sizeof(sluice_destination_stats);
    int count = 0;
    if (sluice_get_destination_stats(output.handle, records.data(), kStatsCapacity, &count) != 0) {
        count = 0;
    }
    Totals& totals = m_totals[std::to_string(stream) + " " + std::to_string(output.handle) + " " +
                              output.address];
    std::map<std::string, Counts> seen;
    for (int i = 0; i < std::min(count, kStatsCapacity); ++i) {
        const sluice_destination_stats& d = records[size_t(i)];
        const std::string key = std::string(d.address) + ":" + std::to_string(d.port) + "@" +
                                std::to_string(d.connected_since_us);
        const Counts now{
            d.bytes,       d.datagrams,    d.dropped + d.frames_dropped, d.jam_episodes,
            d.send_errors, d.lost_packets, d.retransmitted_packets,      d.reconnects};
        const Counts before = totals.seen.count(key) != 0 ? totals.seen[key] : Counts{};
        totals.sum.bytes += gained(now.bytes, before.bytes);
        totals.sum.packets += gained(now.packets, before.packets);
        totals.sum.drops += gained(now.drops, before.drops);
        totals.sum.jams += gained(now.jams, before.jams);
        totals.sum.sendErrors += gained(now.sendErrors, before.sendErrors);
        totals.sum.lost += gained(now.lost, before.lost);
        totals.sum.retransmitted += gained(now.retransmitted, before.retransmitted);
        totals.sum.reconnects += gained(now.reconnects, before.reconnects);
        seen[key] = now;
        // The link figures of the slowest connected peer: the one a viewer would notice.
        if ((d.transport_valid & SLUICE_STATS_HAS_RTT) != 0 && d.rtt_us >= e.rttUs) {
            e.rttUs = d.rtt_us;
            e.transportValid |= enc::kOutputHasRtt;
        }
        if ((d.transport_valid & SLUICE_STATS_HAS_LATENCY) != 0) {
            e.latencyMs = std::max(e.latencyMs, d.latency_ms);
            e.transportValid |= enc::kOutputHasLatency;
        }
        if ((d.transport_valid & SLUICE_STATS_HAS_LOST) != 0) {
            e.transportValid |= enc::kOutputHasLost;
        }
        if ((d.transport_valid & SLUICE_STATS_HAS_RETRANSMITTED) != 0) {
            e.transportValid |= enc::kOutputHasRetransmitted;
        }
    }
    totals.seen = std::move(seen);
    e.bytes = totals.sum.bytes;
    e.packets = totals.sum.packets;
    e.drops = totals.sum.drops;
    e.jams = totals.sum.jams;
    e.sendErrors = totals.sum.sendErrors;
    e.lost = totals.sum.lost;
    e.retransmitted = totals.sum.retransmitted;
    e.reconnects = totals.sum.reconnects;
    return e;
}

std::vector<std::vector<uint8_t>> OutputsReporter::update(int stream,
                                                          const std::vector<OpenedOutput>& outputs,
                                                          int64_t videoFrames, int64_t videoBytes,
                                                          Clock::time_point now) {
    const int s = stream == 0 ? 0 : 1;
    enc::OutputsStatusTotals totals;
    totals.stream = static_cast<uint8_t>(s);
    totals.sequence = ++m_sequence[s];
    const double seconds = std::chrono::duration<double>(now - m_lastAt[s]).count();
    if (m_sequence[s] > 1 && seconds > 0 && videoFrames >= m_lastFrames[s]) {
        totals.encoderBitrate = uint32_t(double(videoBytes - m_lastBytes[s]) * 8 / seconds);
        totals.encoderFpsMilli = uint32_t(double(videoFrames - m_lastFrames[s]) * 1000 / seconds);
    }
    m_lastFrames[s] = videoFrames;
    m_lastBytes[s] = videoBytes;
    m_lastAt[s] = now;

    std::vector<enc::OutputStatusEntry> entries;
    std::map<std::string, Totals> kept;
    for (const OpenedOutput& output : outputs) {
        entries.push_back(entryOf(s, output));
    }
    // Totals of outputs that are gone are forgotten; a re-opened output starts from zero.
    for (auto& [key, value] : m_totals) {
        const bool current = std::any_of(outputs.begin(), outputs.end(), [&](const auto& o) {
            return key == std::to_string(s) + " " + std::to_string(o.handle) + " " + o.address;
        });
        if (current || key.compare(0, 2, std::to_string(s) + " ") != 0) {
            kept.emplace(key, std::move(value));
        }
    }
    m_totals = std::move(kept);
    return enc::outputsStatusParts(totals, entries);
}

}  // namespace ksim
