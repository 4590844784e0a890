#include "WifiClientFile.h"

#include <cstdio>

#include "board/Board.h"
#include "board/Command.h"

namespace enc {
namespace {

// wpa_passphrase accepts passphrases of 8 to 63 characters.
constexpr size_t kShortestKey = 8;
constexpr size_t kLongestKey = 63;

bool writeWholeFile(const std::string& path, const std::string& text) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

std::string openNetworkText(const std::string& essid) {
    std::string name = essid;
    for (char& c : name) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return "ctrl_interface=/var/run/wpa_supplicant\n"
           "\t\t\t\t\t\t\teapol_version=1\n"
           "\t\t\t\t\t\t\t\t\tap_scan=1\n"
           "\t\t\t\t\t\t\t\t\t\t\tfast_reauth=1\n"
           "\t\t\t\t\t\t\t\t\t\t# Only   no key   #\n"
           "\t\t\t\t\t\t\t\tnetwork={\n"
           "ssid=\"" +
           name +
           "\"\n"
           "key_mgmt=NONE\n"
           "\t\t\t\t\t\t\t\t\t\t}\n";
}

bool writeWifiClientFile(const WifiSettings& wifi) {
    if (wifi.essid.empty()) {
        return false;
    }
    if (wifi.encrypt != 0) {
        if (wifi.key.size() < kShortestKey || wifi.key.size() > kLongestKey) {
            return false;
        }
        board::RunOptions options;
        options.stdoutTo = kWifiKeyFile;
        return board::succeeded(
            board::run({"/usr/local/bin/wpa_passphrase", wifi.essid, wifi.key}, options));
    }
    return writeWholeFile(board::path(kWifiNoKeyFile), openNetworkText(wifi.essid));
}

}  // namespace enc
