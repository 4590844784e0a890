#include "SimOptions.h"

#include <cstdlib>

namespace ksim {

const char* usageText() {
    return "usage: korrin-sim [options]\n"
           "\n"
           "Stands in for the encoder's media process: binds /tmp/server.socket under\n"
           "BOARD_ROOT, sends the status records to /tmp/client.socket every second, encodes a\n"
           "test picture and a tone for the main and sub stream as /mnt/config/encoder.ini\n"
           "says, and casts them through libSluice (HTTP-TS, UDP TS, multicast, SRT). Change\n"
           "codes from Quillon re-read the settings. Runs until SIGINT or SIGTERM.\n"
           "\n"
           "Input (what the status records report):\n"
           "  --no-signal           no signal on the input\n"
           "  --interlaced          interlaced HDMI input (scan type I)\n"
           "  --scan C              scan type letter: P I L N D V S (default P)\n"
           "  --input-size WxH      input size (default 1920x1080)\n"
           "  --input-rate N        frames (fields when interlaced) per second (default 60)\n"
           "  --line-in             audio from the analogue line input\n"
           "  --control FILE        key=value lines read again every second, on top of the\n"
           "                        options: signal=0|1, scan=C, size=WxH, rate=N, linein=0|1\n"
           "\n"
           "Output:\n"
           "  --allow-network       also send to destinations other than loopback (the\n"
           "                        settings' UDP TS, multicast and SRT caller addresses);\n"
           "                        without it they are skipped with a message\n"
           "  --status-interval MS  period of the status records (default 1000)\n"
           "  --help                this text\n";
}

bool parseOptions(int argc, char** argv, SimOptions& options, std::string& why) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                why = arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--no-signal") {
            options.input.signal = false;
        } else if (arg == "--interlaced") {
            options.input.scanType = 'I';
        } else if (arg == "--line-in") {
            options.input.lineIn = true;
        } else if (arg == "--allow-network") {
            options.allowNetwork = true;
        } else if (arg == "--scan" || arg == "--input-size" || arg == "--input-rate") {
            if (!value(v)) {
                return false;
            }
            const char* key = arg == "--scan" ? "scan" : arg == "--input-size" ? "size" : "rate";
            if (!applyInputSetting(options.input, key, v, why)) {
                return false;
            }
        } else if (arg == "--control") {
            if (!value(options.controlFile)) {
                return false;
            }
        } else if (arg == "--status-interval") {
            if (!value(v)) {
                return false;
            }
            char* end = nullptr;
            const long ms = std::strtol(v.c_str(), &end, 10);
            // Between a busy test and a sleepy demo; Quillon waits 3 s per datagram.
            if (v.empty() || *end != '\0' || ms < 50 || ms > 60000) {
                why = "--status-interval takes 50 to 60000 ms";
                return false;
            }
            options.statusIntervalMs = static_cast<int>(ms);
        } else {
            why = "unknown option '" + arg + "'";
            return false;
        }
    }
    return true;
}

}  // namespace ksim
