#include "StatusRecords.h"

#include <cstdio>
#include <cstring>

namespace ksim {
namespace {

template <size_t N>
void copyText(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::strncpy(field, text.c_str(), N - 1);
}

std::string videoText(const StreamReport& s) {
    if (!s.running) {
        return "off";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%s %d*%d@%d %dkbps", s.codec.c_str(), s.width, s.height,
                  s.fps, s.bitrateKbps);
    return text;
}

std::string audioText(const AudioReport& a) {
    if (!a.running) {
        return "off";
    }
    char text[64];
    std::snprintf(text, sizeof text, "AAC %dHz %dch %dbps", a.sampleRate, a.channels, a.bitrate);
    return text;
}

void fillEntry(enc::EncodeStreamEntry& entry, const StreamReport& s) {
    entry.width = s.running ? s.width : 0;
    entry.height = s.running ? s.height : 0;
    entry.fps = s.running ? s.fps : 0;
    entry.rtspFailedPort = s.rtspFailedPort;
}

}  // namespace

StatusRecords buildStatusRecords(const InputState& input, const StreamReport& main,
                                 const StreamReport& sub, const AudioReport& audio) {
    StatusRecords r;

    r.input.signalFlags = input.signal ? 1 : 0;
    r.input.scanType = static_cast<uint16_t>(input.scanType);
    r.input.width = static_cast<uint16_t>(input.signal ? input.width : 0);
    r.input.height = static_cast<uint16_t>(input.signal ? input.height : 0);
    r.input.rate = static_cast<uint16_t>(input.signal ? input.rate : 0);

    copyText(r.audio.format, "PCM");
    r.audio.sampleRate = kInputSampleRate;
    r.audio.bits = input.lineIn ? enc::kLineInBits : kInputSampleBits;

    fillEntry(r.encode.stream[0], main);
    fillEntry(r.encode.stream[1], sub);

    // Quillon shows these texts only while there is no signal; keep them meaningful anyway.
    r.system.textCount = 5;
    copyText(r.system.mainInputName, input.kindName());
    copyText(r.system.subInputName, input.kindName());
    copyText(r.system.mainVideoText, input.signal ? videoText(main) : "No Signal");
    copyText(r.system.subVideoText, input.signal ? videoText(sub) : "No Signal");
    copyText(r.system.audioText, !input.signal  ? "No Signal"
                                 : input.lineIn ? "Line In"
                                                : "16 bits PCM 48000");
    r.system.mainWidth = r.encode.stream[0].width;
    r.system.mainHeight = r.encode.stream[0].height;
    r.system.mainFps = r.encode.stream[0].fps;
    r.system.inputFps = input.signal ? input.frameRate() : 0;
    r.system.subWidth = r.encode.stream[1].width;
    r.system.subHeight = r.encode.stream[1].height;
    r.system.subFps = r.encode.stream[1].fps;

    const StreamReport* active = main.running ? &main : sub.running ? &sub : nullptr;
    r.active.activeStream = main.running ? 0u : sub.running ? 1u : 2u;
    copyText(r.active.videoFormat, active != nullptr ? videoText(*active) : "");
    copyText(r.active.audioFormat, active != nullptr ? audioText(audio) : "");
    return r;
}

enc::RtmpStatusRecord buildRtmpRecord(const std::string& address, int mode) {
    enc::RtmpStatusRecord record{};
    std::snprintf(record.rtmpAddress, sizeof record.rtmpAddress, "%s", address.c_str());
    record.rtmpMode = mode;
    return record;
}

}  // namespace ksim
