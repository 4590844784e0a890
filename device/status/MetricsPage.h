#pragma once

#include <cstdint>
#include <string>

namespace enc {

class MediaState;

/// The web server's own counters, shown beside the device's figures.
struct ServerCounters {
    uint64_t requests = 0;
    uint64_t authFailures = 0;
};

/// The device's figures in Prometheus' text exposition format 0.0.4, for "/metrics":
/// uptime, input signal and format, each stream's measured encoder rates and whether the
/// media process reports, CPU time and memory, the web server's counters, and per output
/// (labels stream, protocol and destination: the output's listener or target, never a
/// client) its state, receivers and counters. Counters end in _total; units are bytes and
/// seconds. A stream whose report is stale shows no output figures.
class MetricsPage {
public:
    /// procRoot: where "stat" and "meminfo" are read ("/proc"; tests pass their own).
    static std::string render(const MediaState& media, const ServerCounters& server, int64_t nowMs,
                              const std::string& procRoot = "/proc");
};

}  // namespace enc
