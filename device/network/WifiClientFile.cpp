#include "WifiClientFile.h"

#include <cstdio>
#include <vector>

#include "PrivateFile.h"
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

// wpa_passphrase's output without its "#psk=" comment, the passphrase in plain text
// (wpa_supplicant needs only the derived psk line). Empty when it holds no network block.
std::string withoutPlainKey(const std::string& output) {
    std::string kept;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        end = end == std::string::npos ? output.size() : end + 1;
        const std::string line = output.substr(start, end - start);
        const size_t text = line.find_first_not_of(" \t");
        if (text == std::string::npos || line.compare(text, 5, "#psk=") != 0) {
            kept += line;
        }
        start = end;
    }
    return kept.find("network={") == std::string::npos ? std::string() : kept;
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
        const std::vector<std::string> argv{"/usr/local/bin/wpa_passphrase", wifi.essid, wifi.key};
        board::RunOptions logged;
        logged.stdoutTo = kWifiKeyFile;  // only for the log line: written below, 0600
        std::string output;
        board::RunOptions options;
        options.logText = board::commandText(argv, logged);
        options.capture = &output;
        if (!board::succeeded(board::run(argv, options))) {
            return false;
        }
        // The file holds the network's secret: readable by root only, replaced whole.
        const std::string text = withoutPlainKey(output);
        std::string error;
        if (text.empty() || !comn::writePrivateFile(board::path(kWifiKeyFile), text, &error)) {
            std::printf("%s: %s\n", kWifiKeyFile,
                        text.empty() ? "wpa_passphrase printed no network" : error.c_str());
            return false;
        }
        return true;
    }
    return writeWholeFile(board::path(kWifiNoKeyFile), openNetworkText(wifi.essid));
}

}  // namespace enc
