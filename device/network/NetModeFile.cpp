#include "NetModeFile.h"

#include <cstdio>

#include "board/Board.h"

namespace enc {

namespace {
constexpr int kLastConnectionType = 2;  // LTE
}  // namespace

bool writeNetModeFile(int connectionType) {
    if (connectionType < 0 || connectionType > kLastConnectionType) {
        return true;
    }
    FILE* file = std::fopen(board::path("/mnt/config/net_mode.ini").c_str(), "w");
    if (file == nullptr) {
        std::perror("/mnt/config/net_mode.ini");
        return false;
    }
    std::fprintf(file, "%d", connectionType);
    return std::fclose(file) == 0;
}

}  // namespace enc
