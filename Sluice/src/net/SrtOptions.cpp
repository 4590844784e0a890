#include "SrtOptions.h"

#include <cerrno>

#include "OptionValue.h"

namespace av {
namespace {

bool setInt(SRTSOCKET socket, SRT_SOCKOPT option, int value) {
    return srt_setsockflag(socket, option, &value, sizeof value) == 0;
}

}  // namespace

int SrtOptions::set(const std::string& name, const std::string& value) {
    int64_t number = 0;
    if (name == "latency") {
        if (!parseOptionInteger(value, number) || number < 20 || number > 8000) {
            return EINVAL;
        }
        latencyMs = static_cast<int>(number);
    } else if (name == "passphrase") {
        if (!value.empty() && (value.size() < 10 || value.size() > 79)) {
            return EINVAL;
        }
        passphrase = value;
    } else if (name == "pbkeylen") {
        if (!parseOptionInteger(value, number) ||
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
        if (!parseOptionInteger(value, number) || number < -1) {
            return EINVAL;
        }
        maxBandwidth = number;
    } else if (name == "maxclients" || name == "maxperaddress") {
        if (!parseOptionInteger(value, number) || number < 1 || number > kMaxCallersOption) {
            return EINVAL;
        }
        (name == "maxclients" ? maxCallers : maxCallersPerAddress) = static_cast<int>(number);
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
    bool ok = setInt(socket, SRTO_LATENCY, latencyMs) && applyBandwidth(socket);
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

bool SrtOptions::applyBandwidth(SRTSOCKET socket) const {
    int64_t bandwidth = maxBandwidth;
    if (bandwidth == kNotSet) {
        bandwidth = inputBandwidth > 0 ? 0 : kDefaultCeiling;
    }
    bool ok = srt_setsockflag(socket, SRTO_MAXBW, &bandwidth, sizeof bandwidth) == 0;
    if (bandwidth == 0) {
        // A constant-rate stream's rate is known exactly, from its first block on: libsrt
        // need not estimate it (0: it measures the input rate itself).
        const int64_t input = inputBandwidth;
        ok = ok && srt_setsockflag(socket, SRTO_INPUTBW, &input, sizeof input) == 0;
    }
    return ok;
}

}  // namespace av
