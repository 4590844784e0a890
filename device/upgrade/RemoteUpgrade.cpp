#include "RemoteUpgrade.h"

#include <unistd.h>

#include <cstdio>
#include <vector>

#include "Console.h"
#include "board/Board.h"
#include "board/Command.h"

namespace enc {
namespace {

constexpr const char* kRemoteScript = "/etc/upgrade_remote.sh";
constexpr const char* kPackage = "upgrade_pack.tar.gz";
constexpr const char* kVersionFile = "version.txt";
constexpr size_t kMaxVersionLine = 255;

// Runs the fetch script for one file of the server, after removing any earlier copy so
// that only this run's result counts. False when the command would be too long.
bool fetch(const std::string& server, const std::string& file) {
    const std::vector<std::string> argv = {kRemoteScript, server, file};
    const std::string text = board::commandText(argv, board::RunOptions());
    if (text.size() > kMaxUpgradeCommand) {
        say("http server address too long: %zu characters\n", server.size());
        return false;
    }
    say("http cmd:%s\n", text.c_str());
    ::unlink(board::path("/var/" + file).c_str());
    board::run(argv);
    return true;
}

}  // namespace

int httpUpgrade(const UpgradeServerSettings& request) {
    say("http upgrade now\n");
    if (!fetch(request.serverIP, kPackage)) {
        return -1;
    }
    const std::string package = board::path(std::string("/var/") + kPackage);
    return ::access(package.c_str(), F_OK) == 0 ? 0 : -1;
}

int httpDetect(UpgradeServerSettings& inOut) {
    say("http detect version\n");
    inOut.version.clear();
    if (!fetch(inOut.serverIP, kVersionFile)) {
        return 0;
    }
    const std::string file = board::path(std::string("/var/") + kVersionFile);
    if (FILE* in = std::fopen(file.c_str(), "r")) {
        char line[kMaxVersionLine + 1] = {0};
        if (std::fgets(line, sizeof line, in) != nullptr) {
            inOut.version = line;
        }
        std::fclose(in);
    }
    return 0;
}

int getUpdateStatus(std::string& status) {
    status = "finished";
    return 0;
}

int handleUpdate(const std::string& /*uploadedFilePath*/) {
    return 0;
}

}  // namespace enc
