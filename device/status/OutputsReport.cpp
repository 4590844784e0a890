#include "OutputsReport.h"

#include <cJSON.h>

#include <cstring>
#include <memory>

namespace enc {
namespace {

using Json = std::unique_ptr<cJSON, void (*)(cJSON*)>;

double perSecond(uint64_t now, uint64_t before, int64_t elapsedMs) {
    return double(now - before) * 1000.0 / double(elapsedMs);
}

}  // namespace

const char* OutputsReport::protocolName(int protocol) {
    static const char* const kNames[] = {"other", "UDP",  "TCP",  "RTP", "HTTP",
                                         "SRT",   "RTSP", "RTMP", "HLS", "HTTP-FLV"};
    return protocol >= 1 && protocol <= 9 ? kNames[protocol] : kNames[0];
}

const char* OutputsReport::stateName(int state) {
    static const char* const kNames[] = {"off",        "serving",  "connecting",
                                         "publishing", "retrying", "failed"};
    return state >= kOutputOff && state <= kOutputFailed ? kNames[state] : "unknown";
}

OutputFigures OutputsReport::figures(const OutputsSnapshot& snapshot, size_t i) {
    OutputFigures f;
    const std::vector<OutputStatusEntry>& now = snapshot.current.outputs;
    const std::vector<OutputStatusEntry>& before = snapshot.previous.outputs;
    if (i >= now.size()) {
        return f;
    }
    f.entry = &now[i];
    const int64_t elapsedMs = snapshot.current.receivedMs - snapshot.previous.receivedMs;
    if (!snapshot.previous.valid || elapsedMs <= 0 || i >= before.size()) {
        return f;
    }
    const OutputStatusEntry& a = now[i];
    const OutputStatusEntry& b = before[i];
    if (a.protocol != b.protocol || std::strcmp(a.address, b.address) != 0 || a.bytes < b.bytes ||
        a.packets < b.packets) {
        return f;
    }
    f.bitsPerSecond = perSecond(a.bytes, b.bytes, elapsedMs) * 8;
    f.packetsPerSecond = perSecond(a.packets, b.packets, elapsedMs);
    return f;
}

std::string OutputsReport::json(int index, const OutputsSnapshot& snapshot) {
    Json root(cJSON_CreateObject(), cJSON_Delete);
    cJSON* r = root.get();
    cJSON_AddNumberToObject(r, "index", index);
    cJSON_AddBoolToObject(r, "stale", snapshot.stale);
    cJSON_AddNumberToObject(r, "ageMs", double(snapshot.ageMs));
    cJSON_AddNumberToObject(r, "sequence", snapshot.current.sequence);
    cJSON* encoder = cJSON_AddObjectToObject(r, "encoder");
    cJSON_AddNumberToObject(encoder, "bitrate", snapshot.current.encoderBitrate);
    cJSON_AddNumberToObject(encoder, "fps", snapshot.current.encoderFpsMilli / 1000.0);
    cJSON* outputs = cJSON_AddArrayToObject(r, "outputs");
    for (size_t i = 0; i < snapshot.current.outputs.size(); ++i) {
        const OutputFigures f = figures(snapshot, i);
        const OutputStatusEntry& e = *f.entry;
        cJSON* o = cJSON_CreateObject();
        cJSON_AddStringToObject(o, "protocol", protocolName(e.protocol));
        cJSON_AddStringToObject(o, "address", e.address);
        cJSON_AddStringToObject(o, "state", stateName(e.state));
        cJSON_AddStringToObject(o, "stateText", e.stateText);
        cJSON_AddNumberToObject(o, "receivers", e.receivers);
        cJSON_AddNumberToObject(o, "localPort", e.localPort);
        cJSON_AddNumberToObject(o, "bitrate", f.bitsPerSecond);
        cJSON_AddNumberToObject(o, "packetRate", f.packetsPerSecond);
        cJSON_AddNumberToObject(o, "bytes", double(e.bytes));
        cJSON_AddNumberToObject(o, "packets", double(e.packets));
        cJSON_AddNumberToObject(o, "drops", double(e.drops));
        cJSON_AddNumberToObject(o, "jams", double(e.jams));
        cJSON_AddNumberToObject(o, "sendErrors", double(e.sendErrors));
        cJSON_AddNumberToObject(o, "reconnects", double(e.reconnects));
        cJSON_AddNumberToObject(o, "lastErrno", e.lastErrno);
        if ((e.transportValid & (kOutputHasRtt | kOutputHasLatency)) != 0) {
            cJSON* srt = cJSON_AddObjectToObject(o, "srt");
            cJSON_AddNumberToObject(srt, "rttMs", e.rttUs / 1000.0);
            cJSON_AddNumberToObject(srt, "latencyMs", e.latencyMs);
            cJSON_AddNumberToObject(srt, "lost", double(e.lost));
            cJSON_AddNumberToObject(srt, "retransmitted", double(e.retransmitted));
        }
        cJSON_AddItemToArray(outputs, o);
    }
    std::unique_ptr<char, void (*)(void*)> text(cJSON_PrintUnformatted(r), cJSON_free);
    return text ? std::string(text.get()) : std::string("{}");
}

}  // namespace enc
