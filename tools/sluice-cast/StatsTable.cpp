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
        default:
            return "udp";
    }
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
    char line[256];
    std::snprintf(line, sizeof line, "%-28s %-5s %12s %14s %7s %-13s %9s %5s %10s %s\n",
                  "DESTINATION", "PROTO", "DATAGRAMS", "BYTES", "ERRORS", "LAST ERROR", "DROPPED",
                  "JAMS", "BACKLOG", "CONNECTED");
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
        std::snprintf(line, sizeof line,
                      "%-28s %-5s %12" PRIu64 " %14" PRIu64 " %7" PRIu64 " %-13.13s %9" PRIu64
                      " %5" PRIu64 " %10" PRIu64 " %s\n",
                      destination, protocolName(r.protocol), r.datagrams, r.bytes, r.send_errors,
                      error, r.dropped, r.jam_episodes, r.backlog_bytes, connected);
        text += line;
    }
    return text;
}
