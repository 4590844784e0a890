// Quillon, the encoder's configuration web server: "Quillon <mode>".

#include <cstdio>

#include "DemoHandler.h"
#include "NetModes.h"
#include "ProgramMode.h"
#include "WebServerMode.h"
#include "board/Board.h"

int main(int argc, char** argv) {
    // Line by line, so that our lines and the board tools' output arrive in order.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 2) {
        std::printf("usage ./Quillon 0 or 1 or 2\n");
        std::printf("0: set net, 1: start web server, 2: copy wifi configure file\n");
        return -1;
    }
    std::printf("build at : %s\n", __DATE__);
    const std::string settingsFile = board::path(DemoHandler::kSettingsFile);
    switch (programMode(argv[1])) {
        case ProgramMode::WebServer:
            return WebServerMode::run();
        case ProgramMode::WifiFile:
            std::printf("generate wifi configure file.\n");
            enc::generate_wifi_conf(settingsFile);
            return 0;
        case ProgramMode::SetNetwork:
            break;
    }
    std::printf("only set net interface\n");
    enc::SetNetInterface(settingsFile);
    return 0;
}
