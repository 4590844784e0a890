#pragma once

#include <cstddef>
#include <string>

#include "EncoderRecords.h"
#include "MediaRecords.h"

namespace enc {

/// Forms the live status texts of the web API from the media process's status records, the
/// settings records and a few board files. Pure functions of their arguments (the file
/// readers take real paths), so each text can be checked from crafted records.
class StatusReport {
public:
    /// A signal is present when bit 0 or bit 1 of signalFlags is set.
    static bool hasSignal(const InputSignalRecord& signal);
    /// The input's video text by scan type ("%d * %d P @ %d", ...); "" for an unknown type.
    static std::string scanText(const InputSignalRecord& signal);

    /// The input status for a stream index (0 main, anything else sub) from the records:
    /// type, video and audio texts.
    static InputStatus inputStatus(int index, const InputSignalRecord& signal,
                                   const AudioInputRecord& audioInput,
                                   const SystemStatusRecord& system, const AudioSettings& audio);
    /// The optional input description file (a real path): its first line becomes video and
    /// its second audio, newlines kept. False (status unchanged) when it cannot be opened.
    static bool readMediaStateFile(const std::string& path, InputStatus& status);

    /// The stream's video text: "disabled" for the sub stream while the main stream runs at
    /// more than 30 fps, else "(codec) W * H @ F fps" (F halved input rate when interlaced).
    static std::string streamVideoText(int index, const VideoSettings& video,
                                       const SystemStatusRecord& system,
                                       const InputSignalRecord& signal);
    /// The stream's audio text by codec ("AAC", "G.711", else ""), or "disabled".
    static std::string streamAudioText(const AudioSettings& audio,
                                       const ProtocolSettings& mainProtocol);
    /// addr, ts, tsHttp, flv and hls, each "" when its output is disabled.
    static void streamAddresses(const ProtocolSettings& protocol, const std::string& device,
                                StreamStatus& status);
    /// The RTSP URL (when enabled) and, for an H.264 stream with RTMP on, the RTMP address.
    static StreamUrl streamUrl(const ProtocolSettings& protocol, const VideoSettings& video,
                               const std::string& device);
    /// When the media process reports that it could not open the stream's RTSP port (the
    /// entry's rtspFailedPort is the rtspPort of the settings, RTSP on), rtsp says so instead
    /// of naming an address nobody serves: "not served: port %d cannot be opened". Otherwise
    /// url stays (a report about a port no longer set is stale).
    static void rtspFailure(const ProtocolSettings& protocol, const EncodeStreamEntry& entry,
                            StreamUrl& url);
    /// While the SRT output is on: srt becomes "srt://device:port" for a listener or
    /// "srt://callerAddr:callerPort" for a caller, and srtMode the mode. Otherwise both stay.
    static void srtAddress(const SrtSettings& srt, const std::string& device, StreamUrl& url);

    /// "%02dD-%02dH-%02dM-%02dS" of seconds since boot.
    static std::string uptimeText(long seconds);
    /// The first whitespace-delimited word of a file (at most 127 characters); "" when the
    /// file is missing.
    static std::string firstWord(const std::string& path);
    /// What follows the first "=" in the first 64 bytes of the firmware version file; ""
    /// when the file is missing or holds no "=".
    static std::string softVersion(const std::string& path);

    /// Stream format by the active stream: 0 main, 1 sub (its RTSP name and the record's
    /// formats), anything else three empty texts.
    static StreamFormat streamFormat(const ActiveStreamRecord& active,
                                     const std::string& mainRtspName,
                                     const std::string& subRtspName);
    /// typeStr ("HDMI" for a 3840 or 2048 wide resolution, else "HDMI + VGA") and resStr.
    static OutputSettings output(const OutputSettings& settings);

    /// A record's character array as text, never reading past its end.
    static std::string fieldText(const char* field, size_t size);
    template <size_t N>
    static std::string fieldText(const char (&field)[N]) {
        return fieldText(field, N);
    }
};

}  // namespace enc
