#include "StatsTable.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

const char* protocolName(int protocol) {
    switch (protocol) {
        case SLUICE_PROTOCOL_TCP:
            return "tcp";
        case SLUICE_PROTOCOL_RTP:
            return "rtp";
        case SLUICE_PROTOCOL_HTTP:
            return "http";
        case SLUICE_PROTOCOL_SRT:
            return "srt";
        case SLUICE_PROTOCOL_RTSP:
            return "rtsp";
        default:
            return "udp";
    }
}

// One transport figure, or "-" when the destination's transport does not measure it.
std::string figure(const sluice_destination_stats& r, unsigned bit, uint64_t value) {
    return (r.transport_valid & bit) != 0 ? std::to_string(value) : std::string("-");
}

}  // namespace

bool StatsTable::read(int handle, std::vector<sluice_destination_stats>& records) {
    int count = 0;
    if (sluice_get_destination_stats(handle, nullptr, 0, &count) != 0) {
        return false;
    }
    // Destinations may come and go between the two calls: ask with room to spare and keep
    // what was filled.
    records.assign(static_cast<size_t>(count) + 8, sluice_destination_stats{});
    records[0].size = sizeof(sluice_destination_stats);
    if (sluice_get_destination_stats(handle, records.data(), static_cast<int>(records.size()),
                                     &count) != 0) {
        return false;
    }
    records.resize(std::min(records.size(), static_cast<size_t>(count)));
    return true;
}

std::string StatsTable::format(const std::vector<sluice_destination_stats>& records) {
    std::string text;
    char line[384];
    // The last five columns are the transport's own figures (SRT): round trip, packets lost
    // and sent again, the negotiated latency and the current send rate.
    std::snprintf(line, sizeof line,
                  "%-28s %-5s %12s %14s %7s %-13s %9s %5s %10s %-9s %7s %8s %8s %7s %8s\n",
                  "DESTINATION", "PROTO", "DATAGRAMS", "BYTES", "ERRORS", "LAST ERROR", "DROPPED",
                  "JAMS", "BACKLOG", "CONNECTED", "RTT_MS", "LOST", "RETRANS", "LAT_MS", "KBIT/S");
    text += line;
    for (const sluice_destination_stats& r : records) {
        char destination[96];
        std::snprintf(destination, sizeof destination, "%s:%d", r.address, r.port);
        char connected[32] = "-";
        if (r.connected_since_us > 0) {
            const time_t seconds = static_cast<time_t>(r.connected_since_us / 1000000);
            tm local{};
            localtime_r(&seconds, &local);
            std::strftime(connected, sizeof connected, "%H:%M:%S", &local);
        }
        const char* error = r.last_errno == 0 ? "-" : std::strerror(r.last_errno);
        const uint64_t rttMs = r.rtt_us > 0 ? static_cast<uint64_t>(r.rtt_us) / 1000 : 0;
        const uint64_t latencyMs = r.latency_ms > 0 ? static_cast<uint64_t>(r.latency_ms) : 0;
        std::snprintf(line, sizeof line,
                      "%-28s %-5s %12" PRIu64 " %14" PRIu64 " %7" PRIu64 " %-13.13s %9" PRIu64
                      " %5" PRIu64 " %10" PRIu64 " %-9s %7s %8s %8s %7s %8s\n",
                      destination, protocolName(r.protocol), r.datagrams, r.bytes, r.send_errors,
                      error, r.dropped, r.jam_episodes, r.backlog_bytes, connected,
                      figure(r, SLUICE_STATS_HAS_RTT, rttMs).c_str(),
                      figure(r, SLUICE_STATS_HAS_LOST, r.lost_packets).c_str(),
                      figure(r, SLUICE_STATS_HAS_RETRANSMITTED, r.retransmitted_packets).c_str(),
                      figure(r, SLUICE_STATS_HAS_LATENCY, latencyMs).c_str(),
                      figure(r, SLUICE_STATS_HAS_SEND_RATE, r.send_rate_bps / 1000).c_str());
        text += line;
    }
    return text;
}
