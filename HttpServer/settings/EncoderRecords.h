#pragma once
// The plain records of the encoder settings. A fresh record is all empty texts and zero
// numbers, except the quantiser limits of VideoSettings (15 and 25); the defaults of the
// settings file are applied by EncoderConfigFile, not here.

#include <cstddef>
#include <string>

namespace enc {

struct InputStatus {
    std::string type;
    std::string video;
    std::string audio;
};

struct StreamStatus {
    std::string video;
    std::string audio;
    std::string addr;
    std::string ts;
    std::string tsHttp;  // not stored
    std::string flv;     // not stored
    std::string hls;     // not stored
};

struct StreamUrl {
    std::string rtsp;
    std::string http;
    // Not stored: the stream's SRT address while its SRT output is on ("" otherwise), and
    // whether the device waits there ("listener") or calls out to it ("caller").
    std::string srt;
    std::string srtMode;
};

struct NetworkSettings {
    int connectionType = 0;  // 0 wired, 1 Wi-Fi, 2 LTE
    int dhcp = 0;
    int dnsMode = 0;
    std::string ip;
    std::string mask;
    std::string gate;
    std::string dnsFirst;
    std::string dnsSecond;
    std::string mac;
};

struct WifiSettings {
    int state = 0;
    std::string ip;
    std::string mask;
    std::string gate;
    int encrypt = 0;
    std::string essid;
    std::string key;
};

struct VideoSettings {
    std::string codec;
    std::string profile;
    int framerate = 0;
    int field = 0;
    int bitmode = 0;
    int gop = 0;
    std::string resolution;
    int bitrate = 0;
    int tolerate = 0;
    int minQp = 15;
    int maxQp = 25;
};

struct ProtocolSettings {
    std::string httpName;
    int httpEnabled = 0;
    int httpPort = 0;
    std::string rtspName;
    int rtspEnabled = 0;
    int rtspPort = 0;
    std::string multicastAddr;
    int multicastEnabled = 0;
    int multicastPort = 0;
    std::string tsAddr;
    int tsEnabled = 0;
    int tsPort = 0;
    std::string tsHttpAddr;
    int tsHttpEnabled = 0;
    int tsHttpPort = 0;
    std::string flvAddr;
    int flvEnabled = 0;
    int flvPort = 0;
    std::string hlsAddr;
    int hlsEnabled = 0;
    int hlsPort = 0;
    std::string rtmpAddrMode;
    std::string rtmpAddr;
    int rtmpEnabled = 0;
    int rtmpPort = 0;
    std::string rtmpDir;
    std::string rtmpNode;
    std::string rtmpUser;
    std::string rtmpPassword;
    int onvifEnabled = 0;
    int iotEnabled = 0;
};

struct OsdSettings {
    int x = 0;
    int y = 0;
    int fontSize = 0;
    int opacity = 0;
    unsigned int textColor = 0;
    int bkMode = 0;
    unsigned int bkColor = 0;
    std::string text;
    int textMode = 0;
};

struct ChromaSettings {
    int brightness = 0;
    int contrast = 0;
    int hue = 0;
    int saturation = 0;
};

struct AudioSettings {
    int sampleRate = 0;
    std::string codec;
    int resample = 0;
    int gain = 0;
    std::string onvifCodec;
    int inputMode = 0;
    int checkRate = 0;
    int onvifG711 = 0;
};

struct Rs485Settings {
    std::string ip;
    int port = 0;
    int baudrate = 0;
    int stopbits = 0;
    int databits = 0;
};

struct LogoSettings {
    int enable = 0;
    int x = 0;
    int y = 0;
    int opacity = 0;
    std::string name;
};

struct UpgradeServerSettings {
    std::string serverIP;
    std::string version;  // not stored
};

struct FtpSettings {
    std::string ftpserverIP;
    std::string username;
    std::string fpassword;
    int ftptime = 0;         // time synchronisation interval in hours ("cycle")
    int timeMode = 0;        // 1 enables time synchronisation
    std::string timeServer;  // empty selects the built-in default
    int localtimezone = 0;
};

struct SysInfo {
    std::string devSeq;       // not stored
    std::string softVersion;  // not stored
    std::string hardVersion;  // not stored
    std::string uptime;       // not stored
    int opacity = 0;
    int show = 0;
    std::string add_pict_1;
    std::string add_pict_2;
    std::string serverIP;
    std::string path;
    int place = 0;
};

struct StreamFormat {
    std::string streamURL;
    std::string videoFormat;
    std::string audioFormat;
};

struct OutputSettings {
    std::string videoRes;
    int audioType = 0;
    int audioVolume = 0;
    std::string typeStr;  // not stored
    std::string resStr;   // not stored
};

struct IrcutSettings {
    int gpsInterval = 0;
    int ircutDir = 0;
    std::string devIme;
    std::string rtmpManager;
    std::string gpsManager;
};

struct LteStatus {
    int state = 0;
    std::string server;
    int signal = 0;
    std::string ip;
    std::string mask;
    std::string gate;
    std::string iccid;
    int esimActive = 0;
};

/// Section "security": switches that close doors the device leaves open by default. Each is
/// 0 or 1, default 0, so existing tools keep working until someone locks them out; rtspAuth
/// defaults to 1 (also in a request without it), so that no client opens that door by leaving
/// the key out.
struct SecuritySettings {
    int httpsOnly = 0;      // "httpsOnly": the web server serves its pages over HTTPS only
    int provisionLock = 0;  // "provisionLock": peerlo ignores every changing command
    int rtspAuth = 1;  // "rtspAuth": 1 RTSP viewers give the web credentials (digest), 0 anonymous
    // Not in the settings file: the bearer token of "/metrics" as a request gives it ("" or
    // absent keeps the stored one), and whether one is set, which is all a reply shows.
    std::string metricsToken;
    int metricsTokenSet = 0;
};

/// Sections "master_srt" and "sub_srt": the stream's SRT output. A listener waits for callers on
/// port; a caller connects out to callerAddr:callerPort. Off by default.
struct SrtSettings {
    int enabled = 0;         // "enabled": 0 or 1
    std::string mode;        // "mode": "listener" or "caller"
    int port = 0;            // "port": the listener's UDP port
    std::string callerAddr;  // "callerAddr": the listener a caller connects to (IPv4 or host name)
    int callerPort = 0;      // "callerPort"
    int latency = 0;         // "latency": in milliseconds
    std::string passphrase;  // "passphrase": empty for no encryption, else 10-79 characters
    int keyLength = 0;       // "keyLength": AES key length in bytes, 16, 24 or 32
    std::string streamId;    // "streamId": SRT's stream ID, empty for none
};

/// The record of "/api/adjusttime"; not part of the settings file. Month counts from 0 in
/// requests and from 1 in replies.
struct TimeSettings {
    int year = 0;
    int month = 0;
    int date = 0;
    int day = 0;
    int hour = 0;
    int min = 0;
    int sec = 0;
};

/// Section "label": what the people and tools that manage many encoders call this one and where
/// it stands. Empty by default.
struct DeviceLabel {
    std::string name;      // "name": at most kMaxLabel bytes
    std::string location;  // "location": at most kMaxLabel bytes
    static constexpr size_t kMaxLabel = 63;
};

/// A list of record types (the documents below).
template <class... Rs>
struct DocumentTypes {};

/// The documents of the first release: each record is a named member of EncoderConfigFile, and
/// the order is the one the pages and the published limits list them in.
using NamedDocuments =
    DocumentTypes<InputStatus, StreamStatus, StreamUrl, NetworkSettings, WifiSettings,
                  VideoSettings, ProtocolSettings, OsdSettings, LogoSettings, ChromaSettings,
                  LteStatus, Rs485Settings, TimeSettings, UpgradeServerSettings, FtpSettings,
                  AudioSettings, OutputSettings, StreamFormat, SysInfo, IrcutSettings,
                  SecuritySettings, SrtSettings>;

/// The documents added since: a record above, its descriptor (SettingsDocuments.cpp) and its
/// name here are all a new one takes. EncoderConfigFile keeps their records in its document
/// store (their sections follow all others in the file), the dispatcher serves GET and POST of
/// their path, and the published limits list their rows.
using StoredDocuments = DocumentTypes<DeviceLabel>;

}  // namespace enc
