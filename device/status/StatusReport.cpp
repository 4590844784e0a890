#include "StatusReport.h"

#include <cstdio>
#include <cstring>

#include "SettingsKeys.h"

namespace enc {
namespace {

// The status texts are formed in 64-byte buffers on the board; longer texts are cut there.
constexpr size_t kStatusTextSize = 64;
// The input description file's lines are read up to 255 characters.
constexpr size_t kMediaStateLineSize = 256;
// The firmware version file is read up to 64 bytes.
constexpr size_t kVersionReadSize = 64;
// The UID file's word is read up to 127 characters.
constexpr size_t kUidSize = 128;
// Above this main stream rate the encoder has no capacity left for the sub stream.
constexpr int kSubStreamFpsLimit = 30;

template <class... Args>
std::string format(const char* fmt, Args... args) {
    char text[kStatusTextSize * 4];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

std::string cut(const std::string& text) {
    return text.size() < kStatusTextSize ? text : text.substr(0, kStatusTextSize - 1);
}

struct ScanFormat {
    char type;
    const char* format;
};

// Video texts by scan type.
constexpr ScanFormat kScanFormats[] = {
    {'P', "%d * %d P @ %d"},    {'I', "%d * %d I @ %d"}, {'L', "%d * %d PAL @ %d"},
    {'N', "%d * %d NTSC @ %d"}, {'D', "%d * %d @ %d"},   {'V', "%d * %d @ %d"},
    {'S', "%d * %d @ %d"},
};

}  // namespace

std::string StatusReport::fieldText(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

bool StatusReport::hasSignal(const InputSignalRecord& signal) {
    return (signal.signalFlags & 0x3) != 0;
}

std::string StatusReport::scanText(const InputSignalRecord& signal) {
    for (const auto& scan : kScanFormats) {
        if (signal.scanType == static_cast<uint16_t>(scan.type)) {
            return cut(
                format(scan.format, int{signal.width}, int{signal.height}, int{signal.rate}));
        }
    }
    return std::string();
}

InputStatus StatusReport::inputStatus(int index, const InputSignalRecord& signal,
                                      const AudioInputRecord& audioInput,
                                      const SystemStatusRecord& system,
                                      const AudioSettings& audio) {
    const bool signalPresent = hasSignal(signal);
    std::string mainText;
    std::string subText;
    if (!signalPresent) {
        if (system.textCount > 0) {
            mainText = cut(fieldText(system.mainVideoText));
            subText = cut(fieldText(system.subVideoText));
        }
    } else {
        mainText = scanText(signal);
    }

    InputStatus status;
    if (index == 0) {
        status.type = fieldText(system.mainInputName);
        status.video = mainText;
    } else {
        status.type = fieldText(system.subInputName);
        status.video = subText;
    }
    if (!signalPresent) {
        status.audio = system.textCount > 0 ? fieldText(system.audioText) : std::string();
    } else if (audioInput.bits == kLineInBits || audio.inputMode != 0) {
        status.audio = "Line In";
    } else {
        status.audio =
            format("%d bits %s %d", int{audioInput.bits}, fieldText(audioInput.format).c_str(),
                   static_cast<int>(audioInput.sampleRate));
    }
    return status;
}

bool StatusReport::readMediaStateFile(const std::string& path, InputStatus& status) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        return false;
    }
    char line[kMediaStateLineSize];
    status.video = std::fgets(line, sizeof line, file) != nullptr ? line : "";
    status.audio = std::fgets(line, sizeof line, file) != nullptr ? line : "";
    std::fclose(file);
    return true;
}

std::string StatusReport::streamVideoText(int index, const VideoSettings& video,
                                          const SystemStatusRecord& system,
                                          const InputSignalRecord& signal) {
    if (index == 1 && system.mainFps > kSubStreamFpsLimit) {
        return "disabled";
    }
    const bool main = index == 0;
    const int width = main ? system.mainWidth : system.subWidth;
    const int height = main ? system.mainHeight : system.subHeight;
    int fps = main ? system.mainFps : system.subFps;
    if (signal.scanType == 'I') {
        fps = signal.rate / 2;  // fields per second: two fields make a frame
    }
    return format("(%s) %d * %d @ %d fps", video.codec.c_str(), width, height, fps);
}

std::string StatusReport::streamAudioText(const AudioSettings& audio,
                                          const ProtocolSettings& mainProtocol) {
    if (audio.checkRate != 0) {
        return "disabled";
    }
    const int channels = mainProtocol.onvifEnabled != 0 ? 1 : 2;
    if (audio.codec == "AAC") {
        return format("(%s) %d ch, 16 bits, %dHZ @ %d bps", audio.codec.c_str(), channels,
                      audio.resample, audio.sampleRate);
    }
    if (audio.codec == "G.711") {
        return format("(G711A) %d ch, 16 bits, %dHZ", channels, audio.resample);
    }
    return std::string();
}

void StatusReport::streamAddresses(const ProtocolSettings& p, const std::string& device,
                                   StreamStatus& status) {
    const char* host = device.c_str();
    status.addr = p.multicastEnabled != 0
                      ? format("udp://%s:%d", p.multicastAddr.c_str(), p.multicastPort)
                      : std::string();
    status.ts =
        p.tsEnabled != 0 ? format("udp://%s:%d", p.tsAddr.c_str(), p.tsPort) : std::string();
    status.tsHttp =
        p.tsHttpEnabled != 0 ? format("http://%s:%d", host, p.tsHttpPort) : std::string();
    status.flv = p.flvEnabled != 0
                     ? format("http://%s:%d/%s.flv", host, p.flvPort, p.flvAddr.c_str())
                     : std::string();
    status.hls = p.hlsEnabled != 0
                     ? format("http://%s:%d/%s.m3u8", host, p.hlsPort, p.hlsAddr.c_str())
                     : std::string();
}

StreamUrl StatusReport::streamUrl(const ProtocolSettings& p, const VideoSettings& video,
                                  const std::string& device) {
    StreamUrl url;
    if (p.rtspEnabled != 0) {
        url.rtsp = format("rtsp://%s:%d%s", device.c_str(), p.rtspPort, p.rtspName.c_str());
    }
    if (p.rtmpEnabled != 0 && video.codec == "H.264") {
        url.http = p.rtmpAddr;
    }
    return url;
}

void StatusReport::rtspFailure(const ProtocolSettings& p, const EncodeStreamEntry& entry,
                               StreamUrl& url) {
    if (p.rtspEnabled != 0 && entry.rtspFailedPort != 0 && entry.rtspFailedPort == p.rtspPort) {
        url.rtsp = format("not served: port %d cannot be opened", p.rtspPort);
    }
}

void StatusReport::srtAddress(const SrtSettings& srt, const std::string& device, StreamUrl& url) {
    if (srt.enabled == 0) {
        return;
    }
    const bool caller = srt.mode == keys::kSrtModeCaller;
    // Joined, not formatted: a host name may be longer than the status text buffer.
    url.srt = caller ? "srt://" + srt.callerAddr + ":" + std::to_string(srt.callerPort)
                     : "srt://" + device + ":" + std::to_string(srt.port);
    url.srtMode = srt.mode;
}

std::string StatusReport::uptimeText(long seconds) {
    const long days = seconds / 86400;
    const long hours = seconds % 86400 / 3600;
    const long minutes = seconds % 3600 / 60;
    return format("%02ldD-%02ldH-%02ldM-%02ldS", days, hours, minutes, seconds % 60);
}

std::string StatusReport::firstWord(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        return std::string();
    }
    char word[kUidSize] = {0};
    if (std::fscanf(file, "%127s", word) != 1) {
        word[0] = '\0';
    }
    std::fclose(file);
    return word;
}

std::string StatusReport::softVersion(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        return std::string();
    }
    char data[kVersionReadSize];
    const size_t n = std::fread(data, 1, sizeof data, file);
    std::fclose(file);
    const std::string text(data, strnlen(data, n));
    const size_t equals = text.find('=');
    return equals == std::string::npos ? std::string() : text.substr(equals + 1);
}

StreamFormat StatusReport::streamFormat(const ActiveStreamRecord& active,
                                        const std::string& mainRtspName,
                                        const std::string& subRtspName) {
    StreamFormat format;
    if (active.activeStream == 0 || active.activeStream == 1) {
        format.streamURL = active.activeStream == 0 ? mainRtspName : subRtspName;
        format.videoFormat = fieldText(active.videoFormat);
        format.audioFormat = fieldText(active.audioFormat);
    }
    return format;
}

OutputSettings StatusReport::output(const OutputSettings& settings) {
    OutputSettings out = settings;
    const bool hdmiOnly = settings.videoRes.find("3840") != std::string::npos ||
                          settings.videoRes.find("2048") != std::string::npos;
    out.typeStr = hdmiOnly ? "HDMI" : "HDMI + VGA";
    out.resStr = settings.videoRes;
    return out;
}

}  // namespace enc
