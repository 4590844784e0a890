#include "InputState.h"

#include <cstdio>
#include <cstring>
#include <fstream>

namespace ksim {
namespace {

// Larger than any input the appliance takes (4K); keeps garbage out of the encoders.
constexpr int kMaxSide = 8192;
constexpr int kMaxRate = 240;

bool parseInt(const std::string& text, int low, int high, int& out) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high) {
        return false;
    }
    out = value;
    return true;
}

std::string trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return std::string();
    }
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

const char* InputState::kindName() const {
    switch (scanType) {
        case 'L':
        case 'N':
            return "CVBS";
        case 'D':
            return "DVI";
        case 'V':
            return "VGA";
        case 'S':
            return "SDI";
        default:
            return "HDMI";
    }
}

std::string InputState::describe() const {
    if (!signal) {
        return "No Signal";
    }
    char text[48];
    std::snprintf(text, sizeof text, "%d*%d%c%d", width, height, interlaced() ? 'I' : 'P', rate);
    return text;
}

bool parseSize(const std::string& text, int& width, int& height) {
    const size_t sep = text.find_first_of("x*");
    if (sep == std::string::npos) {
        return false;
    }
    int w = 0;
    int h = 0;
    if (!parseInt(text.substr(0, sep), 1, kMaxSide, w) ||
        !parseInt(text.substr(sep + 1), 1, kMaxSide, h)) {
        return false;
    }
    width = w;
    height = h;
    return true;
}

bool applyInputSetting(InputState& state, const std::string& key, const std::string& value,
                       std::string& why) {
    InputState next = state;
    bool ok = false;
    if (key == "signal" || key == "linein") {
        int flag = 0;
        ok = parseInt(value, 0, 1, flag);
        (key == "signal" ? next.signal : next.lineIn) = flag == 1;
    } else if (key == "scan") {
        ok = value.size() == 1 && std::strchr("PILNDVS", value[0]) != nullptr;
        if (ok) {
            next.scanType = value[0];
        }
    } else if (key == "size") {
        ok = parseSize(value, next.width, next.height);
    } else if (key == "rate") {
        ok = parseInt(value, 1, kMaxRate, next.rate);
    } else {
        why = "unknown input setting '" + key + "'";
        return false;
    }
    if (!ok) {
        why = "bad value '" + value + "' for " + key;
        return false;
    }
    state = next;
    return true;
}

bool applyInputFile(InputState& state, const std::string& path, std::string& why) {
    std::ifstream in(path);
    if (!in) {
        return true;
    }
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line.substr(0, line.find('#')));
        if (line.empty()) {
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            why = "not a key=value line: '" + line + "'";
            return false;
        }
        if (!applyInputSetting(state, trim(line.substr(0, eq)), trim(line.substr(eq + 1)), why)) {
            return false;
        }
    }
    return true;
}

}  // namespace ksim
