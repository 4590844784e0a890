#include "CastOptions.h"

#include <cstdlib>
#include <cstring>

namespace {

bool parseInt(const std::string& text, int low, int high, int& out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || value < low || value > high) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

bool parseProtocol(const std::string& text, int& out) {
    static const struct {
        const char* name;
        int number;
    } kNames[] = {{"udp", 1},  {"tcp", 2},  {"rtp", 3}, {"http", 4}, {"srt", 5},
                  {"rtsp", 6}, {"rtmp", 7}, {"hls", 8}, {"flv", 9}};
    for (const auto& entry : kNames) {
        if (text == entry.name) {
            out = entry.number;
            return true;
        }
    }
    return parseInt(text, 0, 1000000, out);
}

bool parseTarget(const std::string& text, CastOptions::Target& out) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return false;
    }
    out.host = text.substr(0, colon);
    return parseInt(text.substr(colon + 1), 0, 65535, out.port);
}

}  // namespace

const char* CastOptions::usage() {
    return "Usage: sluice-cast [options] INPUT [INPUT2]\n"
           "\n"
           "Casts a media file as an MPEG transport stream through libSluice (sluice.h).\n"
           "\n"
           "INPUT is any file FFmpeg can read whose H.264/H.265 video and AAC audio are taken\n"
           "as they are (like ffmpeg -c copy): .mp4, .mkv, .ts, .flv, or raw .h264, .hevc and\n"
           ".aac elementary streams. Give a raw .h264 and a raw .aac to cast them together.\n"
           "Video must have no B-frames: a frame carries one timestamp.\n"
           "\n"
           "Options:\n"
           "  -p, --protocol P      udp (default), rtp, tcp, http, srt, rtsp, rtmp, hls, flv,\n"
           "                        or a number\n"
           "  -l, --port N          local port the caster binds to (default 0: any);\n"
           "                        for tcp, http, rtsp, hls and flv the port clients\n"
           "                        connect to; for srt the port SRT callers connect to\n"
           "                        (without it: targets only). A listener prints\n"
           "                        \"listening on port N\".\n"
           "  -o, --option N=V      a caster option (sluice_set_option), e.g. srt's\n"
           "                        latency=200, passphrase=..., pbkeylen=32, streamid=...,\n"
           "                        maxbw=-1, rtsp's path=/main, auth_file=FILE, rtmp's\n"
           "                        url=rtmp://HOST/APP/KEY, hls and flv's path=NAME;\n"
           "                        repeat for several\n"
           "  -t, --target H:PORT   destination address (unicast or multicast) and port;\n"
           "                        repeat for several targets\n"
           "      --fast            send as fast as possible (default: real-time pacing)\n"
           "      --loop N          cast the input N times, timestamps running on\n"
           "                        (default 1; 0 = until interrupted)\n"
           "      --sdp FILE        write an SDP description of the first target (RTP)\n"
           "      --stats SECONDS   print every destination's counters every SECONDS\n"
           "                        and once at the end\n"
           "  -q, --quiet           print nothing but errors\n"
           "  -h, --help            this text\n"
           "\n"
           "Logging: put a SluiceLog.ini in the current directory (see sluice.h).\n"
           "Exit status: 0 done, 1 bad usage, 2 input trouble, 3 libSluice refused.\n"
           "\n"
           "Example:\n"
           "  ffmpeg -f lavfi -i testsrc2=size=640x360:rate=25 -f lavfi -i sine=f=440 -t 10 \\\n"
           "         -c:v libx264 -bf 0 -g 50 -c:a aac clip.mp4\n"
           "  sluice-cast -t 127.0.0.1:5000 --loop 0 clip.mp4 &\n"
           "  ffplay udp://127.0.0.1:5000\n"
           "  sluice-cast -p rtp -t 127.0.0.1:5004 --sdp clip.sdp clip.mp4 &\n"
           "  ffplay -protocol_whitelist file,udp,rtp clip.sdp\n"
           "  sluice-cast -p http -l 8080 --loop 0 clip.mp4 &\n"
           "  ffplay http://127.0.0.1:8080/\n"
           "  sluice-cast -p tcp -l 8081 --loop 0 clip.mp4 &\n"
           "  ffplay tcp://127.0.0.1:8081\n"
           "  sluice-cast -p srt -l 9000 -o latency=200 --loop 0 clip.mp4 &\n"
           "  ffplay 'srt://127.0.0.1:9000?mode=caller'\n"
           "  sluice-cast -p hls -l 8090 -o path=cam --loop 0 clip.mp4 &\n"
           "  ffplay http://127.0.0.1:8090/cam.m3u8\n";
}

bool CastOptions::parse(int argc, char** argv, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = "missing value after " + arg;
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "-h" || arg == "--help") {
            help = true;
        } else if (arg == "-q" || arg == "--quiet") {
            quiet = true;
        } else if (arg == "--fast") {
            realTime = false;
        } else if (arg == "-p" || arg == "--protocol") {
            if (!value(v) || !parseProtocol(v, protocol)) {
                error = error.empty() ? "bad protocol: " + v : error;
                return false;
            }
        } else if (arg == "-l" || arg == "--port") {
            if (!value(v) || !parseInt(v, 0, 65535, localPort)) {
                error = error.empty() ? "bad port: " + v : error;
                return false;
            }
            localPortGiven = true;
        } else if (arg == "-t" || arg == "--target") {
            Target target;
            if (!value(v) || !parseTarget(v, target)) {
                error = error.empty() ? "bad target (HOST:PORT): " + v : error;
                return false;
            }
            targets.push_back(target);
        } else if (arg == "--loop") {
            if (!value(v) || !parseInt(v, 0, 1000000, loops)) {
                error = error.empty() ? "bad loop count: " + v : error;
                return false;
            }
        } else if (arg == "--stats") {
            if (!value(v) || !parseInt(v, 1, 86400, statsSeconds)) {
                error = error.empty() ? "bad statistics period (seconds): " + v : error;
                return false;
            }
        } else if (arg == "-o" || arg == "--option") {
            const size_t equals = value(v) ? v.find('=') : std::string::npos;
            if (equals == std::string::npos || equals == 0) {
                error = error.empty() ? "bad option (NAME=VALUE): " + v : error;
                return false;
            }
            casterOptions.emplace_back(v.substr(0, equals), v.substr(equals + 1));
        } else if (arg == "--sdp") {
            if (!value(sdpFile)) {
                return false;
            }
        } else if (!arg.empty() && arg[0] == '-') {
            error = "unknown option: " + arg;
            return false;
        } else {
            inputs.push_back(arg);
        }
    }
    if (help) {
        return true;
    }
    if (inputs.empty() || inputs.size() > 2) {
        error = "give one or two input files";
        return false;
    }
    if (protocol == 6 && localPort == 0) {
        error = "rtsp needs --port: the port clients connect to";
        return false;
    }
    if (protocol == 5 && !localPortGiven && targets.empty()) {
        error = "srt needs --port (listener) or a target (caller)";
        return false;
    }
    if (!sdpFile.empty() && targets.empty()) {
        error = "--sdp needs a target";
        return false;
    }
    return true;
}
