// ts-check: checks an MPEG transport stream against ETSI TR 101 290 (priority 1 and 2) and,
// for UDP/RTP input, measures the RFC 4445 media delivery index and the largest burst.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "MdiMeter.h"
#include "TsChecker.h"
#include "TsInput.h"

namespace {

// Exit status.
constexpr int kClean = 0;
constexpr int kPriority1 = 1;
constexpr int kUsage = 2;
constexpr int kInputTrouble = 3;

const char* kUsageText =
    "Usage: ts-check [options] INPUT\n"
    "\n"
    "Checks an MPEG transport stream (ETSI TR 101 290 priority 1 and 2 indicators).\n"
    "INPUT: a file, - for standard input, udp://[HOST]:PORT or rtp://[HOST]:PORT to listen\n"
    "(HOST: a local address or a multicast group; PORT 0: any, printed on standard error),\n"
    "or a URL FFmpeg reads (http://...).\n"
    "It reports the transport rate the PCRs imply, each PCR's deviation from it (2.4\n"
    "PCR_accuracy_error beyond 500 ns, counted for constant-rate streams: those with null\n"
    "packets) and the share of null packets.\n"
    "For UDP and RTP it also reports the RFC 4445 media delivery index (delay factor, media\n"
    "loss rate) and the largest run of datagrams that arrived back to back.\n"
    "\n"
    "Options:\n"
    "  --json               the report as one JSON object\n"
    "  --duration SECONDS   network input or pipe: listen at most this long\n"
    "  --idle SECONDS       network input or pipe: stop after this long without data\n"
    "                       (default 2)\n"
    "  --wait SECONDS       network input or pipe: give up if nothing arrives (default 10)\n"
    "  --pid-timeout MS     how long a stream of the PMT may be absent (default 2000)\n"
    "  --burst-gap US       arrivals closer than this are back to back (default 20)\n"
    "  -h, --help           this text\n"
    "\n"
    "Exit status: 0 no priority-1 error, 1 priority-1 errors, 2 bad usage, 3 input trouble.\n";

bool number(const char* text, double low, double high, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= low && value <= high;
}

}  // namespace

int main(int argc, char** argv) {
    InputOptions input;
    bool json = false;
    double pidTimeoutMs = 2000;
    double burstGapUs = 20;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        double value = 0;
        auto next = [&](double low, double high) {
            return i + 1 < argc && number(argv[++i], low, high, value);
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsageText, stdout);
            return kClean;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--duration" && next(0.001, 1e6)) {
            input.durationS = value;
        } else if (arg == "--idle" && next(0.001, 1e6)) {
            input.idleS = value;
        } else if (arg == "--wait" && next(0.001, 1e6)) {
            input.waitS = value;
        } else if (arg == "--pid-timeout" && next(1, 1e7)) {
            pidTimeoutMs = value;
        } else if (arg == "--burst-gap" && next(0, 1e7)) {
            burstGapUs = value;
        } else if ((arg.empty() || arg[0] != '-' || arg == "-") && input.source.empty()) {
            input.source = arg;
        } else {
            std::fprintf(stderr, "ts-check: bad argument: %s\n\n%s", arg.c_str(), kUsageText);
            return kUsage;
        }
    }
    if (input.source.empty()) {
        std::fprintf(stderr, "ts-check: no input\n\n%s", kUsageText);
        return kUsage;
    }

    TsChecker checker(static_cast<int64_t>(pidTimeoutMs));
    MdiMeter meter(static_cast<int64_t>(burstGapUs * 1000));
    uint64_t rtpLost = 0;
    std::string error;
    const bool ok = TsInput::read(
        input, [&](const uint8_t* data, size_t size) { checker.feed(data, size); },
        [&](const uint8_t* data, size_t size, int64_t arrivalNs, uint64_t lost) {
            rtpLost += lost;
            checker.feed(data, size);
            meter.onDatagram(arrivalNs, size, checker.lostPackets());
        },
        error);
    if (!ok) {
        std::fprintf(stderr, "ts-check: %s\n", error.c_str());
        return kInputTrouble;
    }
    checker.finish();
    CheckReport& report = checker.report();
    if (TsInput::isDatagram(input.source)) {
        meter.finish(report);
        report.rtpLost = rtpLost;
    }
    const std::string out = json ? report.json() : report.text();
    std::fputs(out.c_str(), stdout);
    return report.priority1() > 0 ? kPriority1 : kClean;
}
