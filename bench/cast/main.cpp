// bench-cast: pushes one media file through libSluice as fast as the library takes it, using
// only sluice.h and libSluice.so (plus FFmpeg to read the file, as ffmpeg -c copy reads it).
//
//   bench-cast --protocol udp|rtp --target H:P ... | --targets-file F   INPUT
//   bench-cast --protocol tcp|http|srt|rtsp|hls|flv --clients N [--hold] INPUT
//   bench-cast --protocol rtmp --url URL [--url URL ...]                 INPUT
//   bench-cast --footprint
//   bench-cast --add-targets N
//
// Stream casters (an SRT caster as listener) print "listening PORT", wait for "go" on standard
// input and then until N clients have been accepted. With --hold, "written" is printed after the
// last frame and the caster stays open (its clients still draining) until standard input gives a
// line or ends.
// --behind-limit-ms stops as soon as writing falls that far behind the media's own clock;
// --pace F writes at F times real time instead of as fast as the library takes the frames.
// --option NAME=VALUE (repeatable) is handed to sluice_set_option (SRT) before any client.
// RTMP opens one caster per --url (each fed every frame, as an integrator pushes to several
// servers). The first key picture starts the pushes (the library connects once it has the
// stream's parameter sets); the pace starts anew once every push is publishing. At the end
// every caster is given time to send what it queued before it is closed.
// --add-targets N times N sluice_add_target calls on one UDP caster (numeric loopback targets,
// so no name server is involved), then N sluice_remove_target calls, and prints one JSON
// object: adds_s, removes_s, and the mean microseconds of the first and the last tenth of the
// adds (equal when an add costs the same at any count).
// The last line of a cast is one JSON object: start_ns and end_ns (CLOCK_MONOTONIC around the
// writes), media_s (media time written), frames, behind (stopped by the limit); for HLS also
// key_ns, when each video key frame was handed over (a segment starts at one); RTMP adds
// sent and dropped: each push's frames sent and frames it never sent.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "BenchArgs.h"
#include "BenchClock.h"
#include "MediaReader.h"
#include "ProcStatus.h"
#include "sluice.h"

namespace {

// A listener accepted by the kernel is in the caster's table microseconds after the accept;
// this margin covers that step once every client's descriptor has appeared.
constexpr auto kAcceptSettle = std::chrono::milliseconds(20);
constexpr int kClientWaitMs = 30000;
// How long the pushes may take to publish, and to send their queues at the end.
constexpr auto kPushWait = std::chrono::seconds(30);
constexpr auto kPushIdle = std::chrono::seconds(3);
// Frames read before casting to find where the timeline starts.
constexpr size_t kLookAhead = 16;

int usage(const std::string& why) {
    std::fprintf(stderr,
                 "bench-cast: %s\n"
                 "usage: bench-cast --protocol udp|rtp|tcp|http|srt|rtsp|hls|flv|rtmp "
                 "[--target H:P ...] "
                 "[--targets-file F] [--clients N] [--hold] [--behind-limit-ms MS] "
                 "[--pace F] [--option NAME=VALUE] [--url URL ...] INPUT\n"
                 "       bench-cast --footprint\n"
                 "       bench-cast --add-targets N\n",
                 why.c_str());
    return 2;
}

int protocolNumber(const std::string& name) {
    if (name == "udp") {
        return SLUICE_PROTOCOL_UDP;
    }
    if (name == "rtp") {
        return SLUICE_PROTOCOL_RTP;
    }
    if (name == "tcp") {
        return SLUICE_PROTOCOL_TCP;
    }
    if (name == "http") {
        return SLUICE_PROTOCOL_HTTP;
    }
    if (name == "srt") {
        return SLUICE_PROTOCOL_SRT;
    }
    if (name == "rtsp") {
        return SLUICE_PROTOCOL_RTSP;
    }
    if (name == "hls") {
        return SLUICE_PROTOCOL_HLS;
    }
    if (name == "flv") {
        return SLUICE_PROTOCOL_FLV;
    }
    if (name == "rtmp") {
        return SLUICE_PROTOCOL_RTMP;
    }
    return -1;
}

void describe(const MediaReader& reader, sluice_media_format& format) {
    format = {};
    format.video_codec = reader.videoCodec;
    format.width = reader.width;
    format.height = reader.height;
    format.video_profile = reader.videoProfile;
    format.video_clock = 1000000;
    format.video_config_size = static_cast<int32_t>(reader.videoConfig.size());
    format.video_config = reinterpret_cast<const uint8_t*>(reader.videoConfig.data());
    format.audio_codec = reader.audioCodec;
    format.channels = reader.channels;
    format.sample_rate = reader.sampleRate;
    format.audio_profile = reader.audioProfile;
    format.audio_clock = 1000000;
    format.audio_config_size = static_cast<int32_t>(reader.audioConfig.size());
    format.audio_config = reinterpret_cast<const uint8_t*>(reader.audioConfig.data());
}

bool waitForLine() {
    std::string line;
    return static_cast<bool>(std::getline(std::cin, line));
}

// The process of an integrator that opened one caster of each protocol and has sent nothing
// yet: the stream description is the clip's, without reading any file.
int footprint() {
    const long before = procStatusKb("self", "VmRSS");
    sluice_init();
    const long initialised = procStatusKb("self", "VmRSS");
    sluice_media_format format = {};
    format.video_codec = SLUICE_CODEC_H264;
    format.width = 1280;
    format.height = 720;
    format.video_clock = 1000000;
    format.audio_codec = SLUICE_CODEC_AAC;
    format.channels = 2;
    format.sample_rate = 48000;
    format.audio_profile = 1;  // AAC LC
    format.audio_clock = 1000000;
    const int protocols[] = {SLUICE_PROTOCOL_UDP, SLUICE_PROTOCOL_RTP, SLUICE_PROTOCOL_TCP,
                             SLUICE_PROTOCOL_HTTP};
    int handles[4] = {-1, -1, -1, -1};
    for (int i = 0; i < 4; ++i) {
        if (sluice_open(&handles[i], protocols[i], 0, &format) != 0) {
            std::fprintf(stderr, "bench-cast: cannot open protocol %d\n", protocols[i]);
            return 1;
        }
    }
    const long open = procStatusKb("self", "VmRSS");
    for (int handle : handles) {
        sluice_close(handle);
    }
    sluice_quit();
    std::printf("{\"rss_loaded_kb\":%ld,\"rss_init_kb\":%ld,\"rss_four_casters_kb\":%ld}\n", before,
                initialised, open);
    return 0;
}

// baseline: our socket count before any client could connect (the listener included).
bool waitForClients(int baseline, int expected) {
    for (int waited = 0; waited < kClientWaitMs; ++waited) {
        if (ownSocketCount() >= baseline + expected) {
            std::this_thread::sleep_for(kAcceptSettle);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// SRT callers share the listener's UDP socket, and an RTSP client is a session only once it
// has set up, so both are counted through the library's destination records instead of
// descriptors.
bool waitForDestinations(int handle, int expected) {
    for (int waited = 0; waited < kClientWaitMs; ++waited) {
        int count = 0;
        if (sluice_get_destination_stats(handle, nullptr, 0, &count) == 0 && count >= expected) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

bool setOption(int handle, const std::string& option) {
    const size_t equals = option.find('=');
    return equals != std::string::npos &&
           sluice_set_option(handle, option.substr(0, equals).c_str(),
                             option.substr(equals + 1).c_str()) == 0;
}

// An RTMP caster's one destination record (its push); zeroed when it has none yet.
sluice_destination_stats pushRecord(int handle) {
    sluice_destination_stats record = {};
    record.size = sizeof record;
    int count = 0;
    if (sluice_get_destination_stats(handle, &record, 1, &count) != 0 || count < 1) {
        record = {};
    }
    return record;
}

bool waitForPublishing(const std::vector<int>& handles) {
    const auto deadline = std::chrono::steady_clock::now() + kPushWait;
    for (const int handle : handles) {
        for (;;) {
            sluice_output_status status = {};
            status.size = sizeof status;
            if (sluice_get_output_status(handle, &status) == 0 &&
                status.state == SLUICE_STATE_PUBLISHING) {
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                std::fprintf(stderr, "bench-cast: push %d: state %d, %s\n", handle, status.state,
                             status.state_text);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return true;
}

// Waits until every push has sent or dropped each of the `written` frames (its queue is
// empty), or until none of them progressed for a while; returns the JSON fields "sent" and
// "dropped" (frames per push).
std::string waitForSent(const std::vector<int>& handles, long written) {
    const auto deadline = std::chrono::steady_clock::now() + kPushWait;
    auto progressed = std::chrono::steady_clock::now();
    uint64_t lastDone = 0;
    for (;;) {
        bool all = true;
        uint64_t done = 0;
        for (const int handle : handles) {
            const sluice_destination_stats record = pushRecord(handle);
            all = all && record.frames + record.frames_dropped >= static_cast<uint64_t>(written);
            done += record.frames + record.frames_dropped;
        }
        const auto now = std::chrono::steady_clock::now();
        if (done != lastDone) {
            lastDone = done;
            progressed = now;
        }
        if (all || now > deadline || now - progressed > kPushIdle) {
            if (!all) {
                std::fprintf(stderr, "bench-cast: pushes still had frames queued\n");
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::string sent = ",\"sent\":[";
    std::string dropped = "],\"dropped\":[";
    for (size_t i = 0; i < handles.size(); ++i) {
        const sluice_destination_stats record = pushRecord(handles[i]);
        sent += (i > 0 ? "," : "") + std::to_string(record.frames);
        dropped += (i > 0 ? "," : "") + std::to_string(record.frames_dropped);
    }
    return sent + dropped + "]";
}

int addTargets(int count) {
    sluice_init();
    sluice_media_format format = {};
    format.video_codec = SLUICE_CODEC_H264;
    int handle = -1;
    if (count < 10 || sluice_open(&handle, SLUICE_PROTOCOL_UDP, 0, &format) != 0) {
        return usage("cannot open a UDP caster");
    }
    const int tenth = count / 10;
    std::vector<int64_t> addNs(static_cast<size_t>(count));
    const int64_t start = monotonicNs();
    for (int i = 0; i < count; ++i) {
        const int64_t before = monotonicNs();
        if (sluice_add_target(handle, "127.0.0.1", 10000 + i) != 0) {
            return usage("add failed");
        }
        addNs[static_cast<size_t>(i)] = monotonicNs() - before;
    }
    const int64_t added = monotonicNs();
    for (int i = 0; i < count; ++i) {
        sluice_remove_target(handle, "127.0.0.1", 10000 + i);
    }
    const int64_t removed = monotonicNs();
    int64_t firstNs = 0;
    int64_t lastNs = 0;
    for (int i = 0; i < tenth; ++i) {
        firstNs += addNs[static_cast<size_t>(i)];
        lastNs += addNs[static_cast<size_t>(count - 1 - i)];
    }
    sluice_close(handle);
    sluice_quit();
    std::printf(
        "{\"count\":%d,\"adds_s\":%.6f,\"removes_s\":%.6f,\"first_tenth_us\":%.2f,"
        "\"last_tenth_us\":%.2f}\n",
        count, static_cast<double>(added - start) / 1e9, static_cast<double>(removed - added) / 1e9,
        static_cast<double>(firstNs) / tenth / 1e3, static_cast<double>(lastNs) / tenth / 1e3);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    BenchArgs args(argc, argv, {"--hold", "--footprint"});
    if (args.ok() && args.has("--footprint")) {
        return footprint();
    }
    if (args.ok() && args.has("--add-targets")) {
        return addTargets(static_cast<int>(args.number("--add-targets", 1000, 10, 100000)));
    }
    if (!args.ok() || args.positional().size() != 1) {
        return usage(args.ok() ? "one INPUT is needed" : args.error());
    }
    const int protocol = protocolNumber(args.text("--protocol", "udp"));
    const int clients = static_cast<int>(args.number("--clients", 0, 0, 4096));
    const long behindLimitMs = args.number("--behind-limit-ms", 0, 0, 3600000);
    const double pace = std::atof(args.text("--pace", "0").c_str());
    std::vector<std::string> targets = args.all("--target");
    if (args.has("--targets-file") && !readTargetFile(args.text("--targets-file"), targets)) {
        return usage("cannot read " + args.text("--targets-file"));
    }
    if (!args.ok() || protocol < 0) {
        return usage(args.ok() ? "unknown protocol" : args.error());
    }

    MediaReader reader;
    std::string error;
    if (!reader.open(args.positional()[0], true, true, error)) {
        return usage(error);
    }

    sluice_init();
    sluice_media_format format;
    describe(reader, format);
    const bool srt = protocol == SLUICE_PROTOCOL_SRT;
    const bool rtsp = protocol == SLUICE_PROTOCOL_RTSP;
    const bool hls = protocol == SLUICE_PROTOCOL_HLS;
    const bool rtmp = protocol == SLUICE_PROTOCOL_RTMP;
    const bool stream = protocol == SLUICE_PROTOCOL_TCP || protocol == SLUICE_PROTOCOL_HTTP ||
                        protocol == SLUICE_PROTOCOL_FLV || hls || srt || rtsp;
    const std::vector<std::string> urls = args.all("--url");
    if (rtmp == urls.empty()) {
        return usage(rtmp ? "rtmp needs --url" : "--url is for rtmp");
    }
    std::vector<int> handles(rtmp ? urls.size() : 1, -1);
    for (int& handle : handles) {
        const int status = sluice_open(&handle, protocol, 0, &format);
        if (status != 0 || handle < 0) {
            return usage("sluice_open failed: " + std::to_string(status));
        }
    }
    const int handle = handles.front();
    // Listeners take a port of the system's choice; SRT listens only when asked to.
    int port = 0;
    if (!rtmp && ((srt && sluice_set_option(handle, "listen", "0") != 0) ||
                  sluice_get_local_port(handle, &port) != 0)) {
        return usage("cannot listen");
    }
    for (const int each : handles) {
        for (const std::string& option : args.all("--option")) {
            if (!setOption(each, option)) {
                return usage("bad option " + option);
            }
        }
    }
    // The URL last: every RTMP option starts its push anew.
    for (size_t i = 0; rtmp && i < urls.size(); ++i) {
        if (sluice_set_option(handles[i], "url", urls[i].c_str()) != 0) {
            return usage("bad url " + urls[i]);
        }
    }
    for (const std::string& target : targets) {
        std::string host;
        int targetPort = 0;
        if (!splitHostPort(target, host, targetPort) ||
            sluice_add_target(handle, host.c_str(), targetPort) != 0) {
            return usage("bad target " + target);
        }
    }
    if (stream) {
        const int baseline = ownSocketCount();
        std::printf("listening %d\n", port);
        std::fflush(stdout);
        if (!waitForLine() || !(srt || rtsp ? waitForDestinations(handle, clients)
                                            : waitForClients(baseline, clients))) {
            return usage("the clients did not come");
        }
    }

    // The earliest of the first frames starts the timeline (audio may begin a little before
    // the first picture).
    std::deque<CastFrame> ahead(kLookAhead);
    size_t filled = 0;
    while (filled < ahead.size() && reader.next(ahead[filled])) {
        ++filled;
    }
    ahead.resize(filled);
    int64_t first = INT64_MAX;
    for (const CastFrame& early : ahead) {
        first = std::min(first, early.ptsUs);
    }
    CastFrame frame;
    long frames = 0;
    int64_t mediaEnd = 0;
    bool behind = false;
    std::vector<int64_t> keyNs;
    bool publishing = !rtmp;
    int64_t start = monotonicNs();
    for (;;) {
        if (!ahead.empty()) {
            frame = std::move(ahead.front());
            ahead.pop_front();
        } else if (!reader.next(frame)) {
            break;
        }
        if (pace > 0) {
            const auto due = std::chrono::nanoseconds(
                start +
                static_cast<int64_t>(static_cast<double>(frame.ptsUs - first) * 1000 / pace));
            std::this_thread::sleep_until(std::chrono::steady_clock::time_point(due));
        }
        sluice_media_packet packet = {};
        packet.type = frame.type;
        packet.data = frame.bytes.data();
        packet.size = static_cast<int32_t>(frame.bytes.size());
        packet.pts = frame.ptsUs - first;
        packet.duration = static_cast<int32_t>(frame.durationUs);
        packet.flags = frame.key ? SLUICE_FLAG_KEY : 0;
        if (hls && frame.key && frame.type == SLUICE_PACKET_VIDEO) {
            keyNs.push_back(monotonicNs());
        }
        for (const int each : handles) {
            sluice_write(each, &packet);
        }
        ++frames;
        if (!publishing && frame.type == SLUICE_PACKET_VIDEO && frame.key) {
            if (!waitForPublishing(handles)) {
                return usage("the pushes did not publish");
            }
            publishing = true;
            // The pace starts anew from this frame: connecting is not the stream's time.
            start = monotonicNs() - static_cast<int64_t>(static_cast<double>(packet.pts) * 1000 /
                                                         (pace > 0 ? pace : 1));
        }
        mediaEnd = std::max(mediaEnd, packet.pts + frame.durationUs);
        if (behindLimitMs > 0 &&
            (monotonicNs() - start) / 1000 > packet.pts + behindLimitMs * 1000) {
            behind = true;
            break;
        }
    }
    const int64_t end = monotonicNs();
    std::string pushes;
    if (rtmp) {
        pushes = waitForSent(handles, frames);
    }
    if (args.has("--hold")) {
        std::printf("written\n");
        std::fflush(stdout);
        waitForLine();
    }
    for (const int each : handles) {
        sluice_close(each);
    }
    sluice_quit();
    std::string keys;
    for (const int64_t ns : keyNs) {
        keys += (keys.empty() ? "" : ",") + std::to_string(ns);
    }
    std::printf(
        "{\"start_ns\":%lld,\"end_ns\":%lld,\"media_s\":%.6f,\"frames\":%ld,\"behind\":%s%s}\n",
        static_cast<long long>(start), static_cast<long long>(end),
        static_cast<double>(mediaEnd) / 1e6, frames, behind ? "true" : "false",
        (hls ? ",\"key_ns\":[" + keys + "]" : pushes).c_str());
    return 0;
}
