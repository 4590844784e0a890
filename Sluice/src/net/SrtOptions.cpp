#include "SrtOptions.h"

#include <cerrno>
#include <cstdlib>

namespace av {
namespace {

// A whole decimal number and nothing else (no spaces, no sign but a leading minus).
bool parseInteger(const std::string& text, int64_t& out) {
    if (text.empty() || text.size() > 20) {
        return false;
    }
    const size_t first = text[0] == '-' ? 1 : 0;
    if (first == text.size()) {
        return false;
    }
    for (size_t i = first; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0') {
        return false;
    }
    out = value;
    return true;
}

bool setInt(SRTSOCKET socket, SRT_SOCKOPT option, int value) {
    return srt_setsockflag(socket, option, &value, sizeof value) == 0;
}

}  // namespace

int SrtOptions::set(const std::string& name, const std::string& value) {
    int64_t number = 0;
    if (name == "latency") {
        if (!parseInteger(value, number) || number < 20 || number > 8000) {
            return EINVAL;
        }
        latencyMs = static_cast<int>(number);
    } else if (name == "passphrase") {
        if (!value.empty() && (value.size() < 10 || value.size() > 79)) {
            return EINVAL;
        }
        passphrase = value;
    } else if (name == "pbkeylen") {
        if (!parseInteger(value, number) ||
            (number != 0 && number != 16 && number != 24 && number != 32)) {
            return EINVAL;
        }
        keyLength = static_cast<int>(number);
    } else if (name == "streamid") {
        if (value.size() > 512) {
            return EINVAL;
        }
        streamId = value;
    } else if (name == "maxbw") {
        if (!parseInteger(value, number) || number < -1) {
            return EINVAL;
        }
        maxBandwidth = number;
    } else {
        return EINVAL;
    }
    return 0;
}

bool SrtOptions::applyBase(SRTSOCKET socket) {
    bool ok = setInt(socket, SRTO_TRANSTYPE, SRTT_LIVE);
    ok = ok && setInt(socket, SRTO_SNDSYN, 0);
    ok = ok && setInt(socket, SRTO_RCVSYN, 0);
    return ok;
}

bool SrtOptions::applyTo(SRTSOCKET socket, bool caller) const {
    bool ok = setInt(socket, SRTO_LATENCY, latencyMs);
    const int64_t bandwidth = maxBandwidth;
    ok = ok && srt_setsockflag(socket, SRTO_MAXBW, &bandwidth, sizeof bandwidth) == 0;
    if (maxBandwidth == 0) {
        const int64_t measured = 0;  // libsrt measures the input rate itself
        ok = ok && srt_setsockflag(socket, SRTO_INPUTBW, &measured, sizeof measured) == 0;
    }
    if (!passphrase.empty()) {
        ok = ok && srt_setsockflag(socket, SRTO_PASSPHRASE, passphrase.data(),
                                   static_cast<int>(passphrase.size())) == 0;
        ok = ok && setInt(socket, SRTO_PBKEYLEN, keyLength == 0 ? 16 : keyLength);
    }
    if (caller && !streamId.empty()) {
        ok = ok && srt_setsockflag(socket, SRTO_STREAMID, streamId.data(),
                                   static_cast<int>(streamId.size())) == 0;
    }
    return ok;
}

}  // namespace av
