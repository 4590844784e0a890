#include "MetricsPage.h"

#include <sys/sysinfo.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "MediaState.h"
#include "OutputsReport.h"

namespace enc {
namespace {

const char* const kStreamNames[] = {"main", "sub"};

// Label values escape backslash, double quote and line feed.
std::string labelValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

class Page {
public:
    /// Starts a family: its HELP and TYPE lines come once, before its first sample.
    void family(const char* name, const char* type, const char* help) {
        m_out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
    }
    void sample(const std::string& name, const std::string& labels, double value) {
        m_out << name;
        if (!labels.empty()) {
            m_out << '{' << labels << '}';
        }
        m_out << ' ' << number(value) << '\n';
    }
    std::string text() const { return m_out.str(); }

private:
    std::ostringstream m_out;
};

struct CpuTimes {
    bool valid = false;
    double seconds[8] = {};
};
const char* const kCpuModes[] = {"user",   "nice", "system",  "idle",
                                 "iowait", "irq",  "softirq", "steal"};

CpuTimes cpuTimes(const std::string& procRoot) {
    CpuTimes t;
    std::ifstream in(procRoot + "/stat");
    std::string cpu;
    unsigned long long ticks[8] = {};
    if (!(in >> cpu) || cpu != "cpu") {
        return t;
    }
    for (auto& v : ticks) {
        in >> v;
    }
    const long hz = ::sysconf(_SC_CLK_TCK);
    if (!in || hz <= 0) {
        return t;
    }
    for (size_t i = 0; i < 8; ++i) {
        t.seconds[i] = double(ticks[i]) / double(hz);
    }
    t.valid = true;
    return t;
}

// MemTotal and MemAvailable of meminfo, in bytes (0 when missing).
void memory(const std::string& procRoot, double& total, double& available) {
    std::ifstream in(procRoot + "/meminfo");
    std::string key;
    unsigned long long kib = 0;
    std::string unit;
    total = available = 0;
    while (in >> key >> kib) {
        std::getline(in, unit);
        if (key == "MemTotal:") {
            total = double(kib) * 1024;
        } else if (key == "MemAvailable:") {
            available = double(kib) * 1024;
        }
    }
}

struct OutputFamily {
    const char* name;
    const char* type;
    const char* help;
    double (*value)(const OutputFigures&);
};

const OutputFamily kOutputFamilies[] = {
    {"encoder_output_state", "gauge",
     "State of the output: 0 off, 1 serving, 2 connecting, 3 publishing, 4 retrying, 5 failed.",
     [](const OutputFigures& f) { return double(f.entry->state); }},
    {"encoder_output_receivers", "gauge", "Clients, sessions or connected targets now.",
     [](const OutputFigures& f) { return double(f.entry->receivers); }},
    {"encoder_output_sent_bytes_total", "counter", "Bytes sent by the output.",
     [](const OutputFigures& f) { return double(f.entry->bytes); }},
    {"encoder_output_sent_packets_total", "counter", "Datagrams or blocks sent by the output.",
     [](const OutputFigures& f) { return double(f.entry->packets); }},
    {"encoder_output_dropped_total", "counter", "Datagrams, blocks or frames never sent.",
     [](const OutputFigures& f) { return double(f.entry->drops); }},
    {"encoder_output_jams_total", "counter", "Times a receiver fell too far behind.",
     [](const OutputFigures& f) { return double(f.entry->jams); }},
    {"encoder_output_send_errors_total", "counter", "Failed sends and broken connections.",
     [](const OutputFigures& f) { return double(f.entry->sendErrors); }},
    {"encoder_output_reconnects_total", "counter", "Connections made again by a push output.",
     [](const OutputFigures& f) { return double(f.entry->reconnects); }},
};

const OutputFamily kSrtFamilies[] = {
    {"encoder_output_srt_rtt_seconds", "gauge", "Round-trip time of the slowest SRT peer.",
     [](const OutputFigures& f) { return f.entry->rttUs / 1e6; }},
    {"encoder_output_srt_latency_seconds", "gauge", "Negotiated SRT latency.",
     [](const OutputFigures& f) { return f.entry->latencyMs / 1e3; }},
    {"encoder_output_srt_lost_packets_total", "counter", "Packets SRT receivers reported lost.",
     [](const OutputFigures& f) { return double(f.entry->lost); }},
    {"encoder_output_srt_retransmitted_packets_total", "counter", "Packets SRT sent again.",
     [](const OutputFigures& f) { return double(f.entry->retransmitted); }},
};

void outputFamilies(Page& page, const OutputsSnapshot (&streams)[2], const OutputFamily* families,
                    size_t count, bool srtOnly) {
    for (size_t k = 0; k < count; ++k) {
        const OutputFamily& family = families[k];
        bool started = false;
        for (int s = 0; s < 2; ++s) {
            if (streams[s].stale) {
                continue;
            }
            for (size_t i = 0; i < streams[s].current.outputs.size(); ++i) {
                const OutputFigures f = OutputsReport::figures(streams[s], i);
                if (srtOnly &&
                    (f.entry->transportValid & (kOutputHasRtt | kOutputHasLatency)) == 0) {
                    continue;
                }
                if (!started) {
                    page.family(family.name, family.type, family.help);
                    started = true;
                }
                const std::string labels =
                    std::string("stream=\"") + kStreamNames[s] + "\",protocol=\"" +
                    labelValue(OutputsReport::protocolName(f.entry->protocol)) +
                    "\",destination=\"" + labelValue(f.entry->address) + "\"";
                page.sample(family.name, labels, family.value(f));
            }
        }
    }
}

}  // namespace

std::string MetricsPage::render(const MediaState& media, const ServerCounters& server,
                                int64_t nowMs, const std::string& procRoot) {
    Page page;
    struct sysinfo info {};
    page.family("encoder_uptime_seconds", "gauge", "Seconds since the device started.");
    page.sample("encoder_uptime_seconds", "", ::sysinfo(&info) == 0 ? double(info.uptime) : 0);

    const InputSignalRecord input = media.inputSignal();
    const bool signal = (input.signalFlags & 3) != 0;
    page.family("encoder_input_signal", "gauge", "1 while a signal is on the video input.");
    page.sample("encoder_input_signal", "", signal ? 1 : 0);
    page.family("encoder_input_width_pixels", "gauge", "Width of the input picture.");
    page.sample("encoder_input_width_pixels", "", signal ? input.width : 0);
    page.family("encoder_input_height_pixels", "gauge", "Height of the input picture.");
    page.sample("encoder_input_height_pixels", "", signal ? input.height : 0);
    page.family("encoder_input_frames_per_second", "gauge", "Frame or field rate of the input.");
    page.sample("encoder_input_frames_per_second", "", signal ? input.rate : 0);

    OutputsSnapshot streams[2];
    for (int s = 0; s < 2; ++s) {
        streams[s] = media.outputs().snapshot(s, nowMs);
    }
    page.family("encoder_media_process_reporting", "gauge",
                "1 while the media process reports the stream's outputs.");
    for (int s = 0; s < 2; ++s) {
        page.sample("encoder_media_process_reporting",
                    std::string("stream=\"") + kStreamNames[s] + "\"", streams[s].stale ? 0 : 1);
    }
    page.family("encoder_stream_encoded_bytes_per_second", "gauge",
                "Measured encoder rate (bit rate / 8).");
    for (int s = 0; s < 2; ++s) {
        page.sample("encoder_stream_encoded_bytes_per_second",
                    std::string("stream=\"") + kStreamNames[s] + "\"",
                    streams[s].stale ? 0 : streams[s].current.encoderBitrate / 8.0);
    }
    page.family("encoder_stream_frames_per_second", "gauge", "Measured encoder frame rate.");
    for (int s = 0; s < 2; ++s) {
        page.sample("encoder_stream_frames_per_second",
                    std::string("stream=\"") + kStreamNames[s] + "\"",
                    streams[s].stale ? 0 : streams[s].current.encoderFpsMilli / 1000.0);
    }

    const CpuTimes cpu = cpuTimes(procRoot);
    if (cpu.valid) {
        page.family("encoder_cpu_seconds_total", "counter", "CPU time of the device by mode.");
        for (size_t i = 0; i < 8; ++i) {
            page.sample("encoder_cpu_seconds_total", std::string("mode=\"") + kCpuModes[i] + "\"",
                        cpu.seconds[i]);
        }
    }
    double total = 0;
    double available = 0;
    memory(procRoot, total, available);
    page.family("encoder_memory_total_bytes", "gauge", "Memory of the device.");
    page.sample("encoder_memory_total_bytes", "", total);
    page.family("encoder_memory_available_bytes", "gauge", "Memory available for new work.");
    page.sample("encoder_memory_available_bytes", "", available);

    page.family("quillon_http_requests_total", "counter", "Requests the web server received.");
    page.sample("quillon_http_requests_total", "", double(server.requests));
    page.family("quillon_http_authentication_failures_total", "counter",
                "Requests refused for wrong credentials or a wrong metrics token.");
    page.sample("quillon_http_authentication_failures_total", "", double(server.authFailures));

    outputFamilies(page, streams, kOutputFamilies, std::size(kOutputFamilies), false);
    outputFamilies(page, streams, kSrtFamilies, std::size(kSrtFamilies), true);
    return page.text();
}

}  // namespace enc
