#pragma once

#include <string>
#include <utility>
#include <vector>

/// The command line of sluice-cast.
struct CastOptions {
    struct Target {
        std::string host;
        int port = 0;
    };

    int protocol = 1;  // sluice_open's numbering: 1 UDP, 2 TCP, 3 RTP, 4 HTTP, 5 SRT
    int localPort = 0;
    bool localPortGiven = false;  // srt listens only when --port is given (0: any port)

    /// The caster listens for clients or callers (TCP, HTTP, SRT with --port).
    bool listens() const {
        return protocol == 2 || protocol == 4 || protocol == 8 || protocol == 9 ||
               (protocol == 5 && localPortGiven);
    }
    std::vector<Target> targets;
    std::vector<std::string> inputs;
    bool realTime = true;
    int loops = 1;  // 0: forever
    std::string sdpFile;
    /// --option NAME=VALUE, for sluice_set_option in the order given.
    std::vector<std::pair<std::string, std::string>> casterOptions;
    bool quiet = false;
    int statsSeconds = 0;  // 0: no statistics table
    bool help = false;

    /// Parses argv; false with a message in error on bad usage.
    bool parse(int argc, char** argv, std::string& error);
    static const char* usage();
};
