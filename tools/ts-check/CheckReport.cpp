#include "CheckReport.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace {

void add(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void add(std::string& out, const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    out += line;
}

}  // namespace

std::string CheckReport::text() const {
    std::string out;
    add(out, "packets %" PRIu64 ", %.3f s of stream\n", packets, seconds);
    add(out, "priority 1: %" PRIu64 "\n", priority1());
    add(out, "  1.1 TS_sync_loss           %" PRIu64 "\n", syncLoss);
    add(out, "  1.2 Sync_byte_error        %" PRIu64 "\n", syncByteErrors);
    add(out, "  1.3 PAT_error              %" PRIu64 "  (longest interval %.1f ms)\n", patErrors,
        maxPatIntervalMs);
    add(out, "  1.4 Continuity_count_error %" PRIu64 "  (%" PRIu64 " packets lost)\n",
        continuityErrors, lostPackets);
    add(out, "  1.5 PMT_error              %" PRIu64 "  (longest interval %.1f ms)\n", pmtErrors,
        maxPmtIntervalMs);
    add(out, "  1.6 PID_error              %" PRIu64 "\n", pidErrors);
    add(out, "priority 2: %" PRIu64 "\n", priority2());
    add(out, "  2.1 Transport_error        %" PRIu64 "\n", transportErrors);
    add(out, "  2.2 CRC_error              %" PRIu64 "\n", crcErrors);
    add(out, "  2.3 PCR_repetition_error   %" PRIu64 "  (longest interval %.1f ms)\n",
        pcrRepetitionErrors, maxPcrIntervalMs);
    add(out, "  2.3 PCR_discontinuity      %" PRIu64 "\n", pcrDiscontinuityErrors);
    add(out, "  2.4 PCR_accuracy_error     %" PRIu64 "  (largest deviation %.0f ns)\n",
        pcrAccuracyErrors, maxPcrAccuracyNs);
    add(out, "  2.5 PTS_error              %" PRIu64 "  (longest interval %.1f ms)\n", ptsErrors,
        maxPtsIntervalMs);
    add(out, "transport rate %.0f bit/s by the PCRs, %.1f%% null packets\n", transportRateBps,
        100 * nullShare);
    if (datagrams) {
        add(out, "delivery: %" PRIu64 " datagrams, %" PRIu64 " lost by RTP sequence\n",
            datagramCount, rtpLost);
        add(out, "  MDI delay factor %.2f ms, media loss rate %.1f packets/s (worst second)\n",
            maxDelayFactorMs, maxMediaLossRate);
        add(out, "  largest burst %" PRIu64 " datagrams back to back\n", largestBurst);
    }
    return out;
}

std::string CheckReport::json() const {
    std::string out = "{";
    add(out, "\"packets\":%" PRIu64 ",\"seconds\":%.3f,", packets, seconds);
    add(out,
        "\"priority1\":{\"total\":%" PRIu64 ",\"sync_loss\":%" PRIu64 ",\"sync_byte\":%" PRIu64
        ",\"pat\":%" PRIu64 ",\"continuity\":%" PRIu64 ",\"pmt\":%" PRIu64 ",\"pid\":%" PRIu64 "},",
        priority1(), syncLoss, syncByteErrors, patErrors, continuityErrors, pmtErrors, pidErrors);
    add(out,
        "\"priority2\":{\"total\":%" PRIu64 ",\"transport\":%" PRIu64 ",\"crc\":%" PRIu64
        ",\"pcr_repetition\":%" PRIu64 ",\"pcr_discontinuity\":%" PRIu64 ",\"pts\":%" PRIu64
        ",\"pcr_accuracy\":%" PRIu64 "},",
        priority2(), transportErrors, crcErrors, pcrRepetitionErrors, pcrDiscontinuityErrors,
        ptsErrors, pcrAccuracyErrors);
    add(out,
        "\"lost_packets\":%" PRIu64
        ",\"max_pcr_interval_ms\":%.3f,\"max_pat_interval_ms\":%.3f,"
        "\"max_pmt_interval_ms\":%.3f,\"max_pts_interval_ms\":%.3f",
        lostPackets, maxPcrIntervalMs, maxPatIntervalMs, maxPmtIntervalMs, maxPtsIntervalMs);
    add(out, ",\"transport_rate_bps\":%.0f,\"max_pcr_accuracy_ns\":%.1f,\"null_share\":%.4f",
        transportRateBps, maxPcrAccuracyNs, nullShare);
    if (datagrams) {
        add(out,
            ",\"delivery\":{\"datagrams\":%" PRIu64 ",\"rtp_lost\":%" PRIu64
            ",\"delay_factor_ms\":%.3f,\"media_loss_rate\":%.3f,\"largest_burst\":%" PRIu64 "}",
            datagramCount, rtpLost, maxDelayFactorMs, maxMediaLossRate, largestBurst);
    }
    out += "}\n";
    return out;
}
