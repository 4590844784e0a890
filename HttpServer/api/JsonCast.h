#pragma once
// The JSON documents of the web API: one encoding per settings record for the replies of
// read operations, and a decoding for the bodies of write operations. The key names and the
// spacing of the encodings are what the device's web pages parse; keep them byte for byte.

#include <string>
#include <string_view>

#include "EncoderRecords.h"

namespace enc {

/// Stateless conversions between the settings records and their JSON documents.
///
/// toJson replaces text with the record's document (cut at 1023 characters, as the device
/// always did). fromJson reads the keys its document names from a JSON body: keys missing
/// from the body leave their fields unchanged, and a body that is not a JSON object (an
/// array for the overlays), or one nested deeper than JsonDepth::kLimit, changes nothing; it
/// always returns true. Safe to call from any thread.
class JsonCast {
public:
    virtual ~JsonCast() = default;

    static void toJson(const InputStatus& record, std::string& text);
    static void toJson(const StreamStatus& record, std::string& text);
    /// {"http":"...", "rtsp":"..."}; while the stream's SRT output is on (srt not empty) the
    /// keys "srt" and "srtMode" follow, in the same spacing.
    static void toJson(const StreamUrl& record, std::string& text);
    static void toJson(const NetworkSettings& record, std::string& text);
    static void toJson(const WifiSettings& record, std::string& text);
    static void toJson(const VideoSettings& record, std::string& text);
    static void toJson(const ProtocolSettings& record, std::string& text);
    /// The overlay document: an array of two objects, the second without textMode.
    static void toJson(const OsdSettings& first, const OsdSettings& second, std::string& text);
    static void toJson(const ChromaSettings& record, std::string& text);
    static void toJson(const AudioSettings& record, std::string& text);
    static void toJson(const SysInfo& record, std::string& text);
    static void toJson(const StreamFormat& record, std::string& text);
    static void toJson(const OutputSettings& record, std::string& text);
    static void toJson(const LteStatus& record, std::string& text);
    static void toJson(const Rs485Settings& record, std::string& text);
    static void toJson(const LogoSettings& record, std::string& text);
    static void toJson(const TimeSettings& record, std::string& text);
    static void toJson(const FtpSettings& record, std::string& text);
    static void toJson(const UpgradeServerSettings& record, std::string& text);
    static void toJson(const IrcutSettings& record, std::string& text);
    /// The switches, by the format of their descriptor (SettingsDocuments.cpp).
    static void toJson(const SecuritySettings& record, std::string& text);
    /// {"enabled":0,"mode":"listener","port":9000,"callerAddr":"","callerPort":0,
    /// "latency":120,"passphraseSet":false,"keyLength":16,"streamId":""}: the passphrase
    /// itself never leaves the device. Not cut: every field is bounded (SettingsCheck::srt).
    static void toJson(const SrtSettings& record, std::string& text);

    /// dhcp is read as a number here (the encoding prints it as a boolean).
    static bool fromJson(NetworkSettings& record, std::string_view body);
    static bool fromJson(WifiSettings& record, std::string_view body);
    static bool fromJson(VideoSettings& record, std::string_view body);
    static bool fromJson(ProtocolSettings& record, std::string_view body);
    /// Array element 0 fills first, element 1 second; a missing element leaves its record.
    static bool fromJson(OsdSettings& first, OsdSettings& second, std::string_view body);
    static bool fromJson(ChromaSettings& record, std::string_view body);
    static bool fromJson(AudioSettings& record, std::string_view body);
    /// Prints "storage infor:<serverIP>, <path>, <place>" on standard output afterwards.
    static bool fromJson(SysInfo& record, std::string_view body);
    static bool fromJson(OutputSettings& record, std::string_view body);
    /// Reads state, server, signal, ip, mask and gate only.
    static bool fromJson(LteStatus& record, std::string_view body);
    static bool fromJson(Rs485Settings& record, std::string_view body);
    static bool fromJson(LogoSettings& record, std::string_view body);
    static bool fromJson(TimeSettings& record, std::string_view body);
    /// Prints the FTP and time server settings on standard output afterwards.
    static bool fromJson(FtpSettings& record, std::string_view body);
    /// Prints "HttpServer : <serverIP>" on standard output afterwards.
    static bool fromJson(UpgradeServerSettings& record, std::string_view body);
    static bool fromJson(IrcutSettings& record, std::string_view body);
    static bool fromJson(SecuritySettings& record, std::string_view body);
    /// The keys of the SRT document, with "passphrase" in place of "passphraseSet": a body
    /// without it keeps the record's passphrase, "" clears it.
    static bool fromJson(SrtSettings& record, std::string_view body);

    /// The RTMP push of a stream ("/api/rtmp", beside the protocol document, whose bytes stay
    /// as they are): {"rtmpEnabled":false,"rtmpAddr":"","rtmpPort":1935,"rtmpUser":"",
    /// "passwordSet":false}; the password itself never leaves the device.
    static void toRtmpJson(const ProtocolSettings& record, std::string& text);
    /// Those keys with "rtmpPassword" in place of "passwordSet": missing keys keep the
    /// record's values (a body without "rtmpPassword" keeps the stored password, "" clears it).
    static bool fromRtmpJson(ProtocolSettings& record, std::string_view body);
};

}  // namespace enc
