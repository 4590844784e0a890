#include "JsonCast.h"

#include <cJSON.h>

#include <cstdio>
#include <memory>

#include "JsonDepth.h"
#include "JsonFormat.h"

namespace enc {

namespace {

// One table per document: the encoding and decoding formats exactly as the pages use them
// (spacing and the key "tsHtttp" included), and the fields their keys name. A null decode
// format means the document is never read from a request.
template <class Record>
struct Document;

template <>
struct Document<InputStatus> {
    static constexpr const char* kEncode = "{type:%Q, video:%Q, audio:%Q}";
    static constexpr const char* kDecode = nullptr;
    static JsonFields fields(InputStatus& r) {
        return {{"type", r.type}, {"video", r.video}, {"audio", r.audio}};
    }
};

template <>
struct Document<StreamStatus> {
    static constexpr const char* kEncode =
        "{addr:%Q, video:%Q, audio:%Q, ts:%Q, tsHtttp:%Q, flv:%Q, hls:%Q}";
    static constexpr const char* kDecode = nullptr;
    static JsonFields fields(StreamStatus& r) {
        return {{"addr", r.addr},      {"video", r.video}, {"audio", r.audio}, {"ts", r.ts},
                {"tsHtttp", r.tsHttp}, {"flv", r.flv},     {"hls", r.hls}};
    }
};

template <>
struct Document<StreamUrl> {
    static constexpr const char* kEncode = "{http:%Q, rtsp:%Q}";
    // The same document while the SRT output is on: new keys after the old ones.
    static constexpr const char* kEncodeWithSrt = "{http:%Q, rtsp:%Q, srt:%Q, srtMode:%Q}";
    static constexpr const char* kDecode = nullptr;
    static JsonFields fields(StreamUrl& r) {
        return {{"http", r.http}, {"rtsp", r.rtsp}, {"srt", r.srt}, {"srtMode", r.srtMode}};
    }
};

template <>
struct Document<NetworkSettings> {
    static constexpr const char* kEncode =
        "{connectionType:%d, dhcp:%B, dnsMode:%d, ip:%Q, mask:%Q, gate:%Q, "
        "dnsFirst:%Q,dnsSecond:%Q, mac:%Q}";
    static constexpr const char* kDecode =
        "{connectionType:%d, dhcp:%d, dnsMode:%d, ip:%Q, mask:%Q, gate:%Q, "
        "dnsFirst:%Q,dnsSecond:%Q, mac:%Q}";
    static JsonFields fields(NetworkSettings& r) {
        return {{"connectionType", r.connectionType},
                {"dhcp", r.dhcp},
                {"dnsMode", r.dnsMode},
                {"ip", r.ip},
                {"mask", r.mask},
                {"gate", r.gate},
                {"dnsFirst", r.dnsFirst},
                {"dnsSecond", r.dnsSecond},
                {"mac", r.mac}};
    }
};

template <>
struct Document<WifiSettings> {
    static constexpr const char* kEncode =
        "{state:%d, ip:%Q, mask:%Q, gate:%Q, encrypt:%d, essid:%Q,key:%Q}";
    static constexpr const char* kDecode = kEncode;
    static JsonFields fields(WifiSettings& r) {
        return {{"state", r.state},     {"ip", r.ip},       {"mask", r.mask}, {"gate", r.gate},
                {"encrypt", r.encrypt}, {"essid", r.essid}, {"key", r.key}};
    }
};

template <>
struct Document<VideoSettings> {
    static constexpr const char* kEncode =
        "{codec:%Q, profile:%Q, framerate:%d, bitmode:%d, field:%d, gop:%d, "
        "resolution:%Q,bitrate:%d, tolerate:%d, minQp:%d, maxQp:%d}";
    static constexpr const char* kDecode =
        "{codec:%Q, field:%d, profile:%Q, framerate:%d, bitmode:%d, gop:%d, "
        "resolution:%Q,bitrate:%d, tolerate:%d, minQp:%d, maxQp:%d}";
    static JsonFields fields(VideoSettings& r) {
        return {{"codec", r.codec},         {"profile", r.profile},
                {"framerate", r.framerate}, {"bitmode", r.bitmode},
                {"field", r.field},         {"gop", r.gop},
                {"bitrate", r.bitrate},     {"resolution", r.resolution},
                {"tolerate", r.tolerate},   {"minQp", r.minQp},
                {"maxQp", r.maxQp}};
    }
};

template <>
struct Document<ProtocolSettings> {
    static constexpr const char* kEncode =
        "{httpName:%Q, httpPort:%d, httpEnabled:%B, rtspName:%Q, rtspPort:%d, rtspEnabled:%B,"
        "multicastAddr:%Q, multicastPort:%d, multicastEnabled:%B,"
        "tsAddr:%Q, tsPort:%d, tsEnabled:%B,"
        "tsHttpAddr:%Q, tsHttpPort:%d, tsHttpEnabled:%B,"
        "flvAddr:%Q, flvPort:%d, flvEnabled:%B,"
        "hlsAddr:%Q, hlsPort:%d, hlsEnabled:%B,"
        "rtmpAddrMode:%Q, rtmpAddr:%Q, rtmpPort:%d, rtmpEnabled:%B, rtmpUser:%Q, "
        "rtmpPassword:%Q,onvifEnabled:%B, iotEnabled:%B}";
    static constexpr const char* kDecode = kEncode;
    static JsonFields fields(ProtocolSettings& r) {
        return {{"httpName", r.httpName},
                {"httpPort", r.httpPort},
                {"httpEnabled", r.httpEnabled},
                {"rtspName", r.rtspName},
                {"rtspPort", r.rtspPort},
                {"rtspEnabled", r.rtspEnabled},
                {"multicastAddr", r.multicastAddr},
                {"multicastPort", r.multicastPort},
                {"multicastEnabled", r.multicastEnabled},
                {"tsAddr", r.tsAddr},
                {"tsPort", r.tsPort},
                {"tsEnabled", r.tsEnabled},
                {"tsHttpAddr", r.tsHttpAddr},
                {"tsHttpPort", r.tsHttpPort},
                {"tsHttpEnabled", r.tsHttpEnabled},
                {"flvAddr", r.flvAddr},
                {"flvPort", r.flvPort},
                {"flvEnabled", r.flvEnabled},
                {"hlsAddr", r.hlsAddr},
                {"hlsPort", r.hlsPort},
                {"hlsEnabled", r.hlsEnabled},
                {"rtmpAddrMode", r.rtmpAddrMode},
                {"rtmpAddr", r.rtmpAddr},
                {"rtmpPort", r.rtmpPort},
                {"rtmpEnabled", r.rtmpEnabled},
                {"rtmpUser", r.rtmpUser},
                {"rtmpPassword", r.rtmpPassword},
                {"onvifEnabled", r.onvifEnabled},
                {"iotEnabled", r.iotEnabled}};
    }
};

// The overlay reply is "[" + first + "," + second + "]"; only the first object has textMode.
// Each element of a request array is read with the first object's format.
template <>
struct Document<OsdSettings> {
    static constexpr const char* kFirst =
        "{x:%d, y:%d, fontSize:%d, opacity:%d, textColor:%d, bkMode:%d, bkColor:%d, text:%Q, "
        "textMode:%d}";
    static constexpr const char* kSecond =
        "{x:%d, y:%d, fontSize:%d, opacity:%d, textColor:%d, bkMode:%d, bkColor:%d, text:%Q}";
    static constexpr const char* kDecode = kFirst;
    static JsonFields fields(OsdSettings& r) {
        return {{"x", r.x},
                {"y", r.y},
                {"fontSize", r.fontSize},
                {"opacity", r.opacity},
                {"textColor", r.textColor},
                {"bkMode", r.bkMode},
                {"bkColor", r.bkColor},
                {"text", r.text},
                {"textMode", r.textMode}};
    }
};

template <>
struct Document<ChromaSettings> {
    static constexpr const char* kEncode = "{brightness:%d, contrast:%d, hue:%d, saturation:%d}";
    static constexpr const char* kDecode = kEncode;
    static JsonFields fields(ChromaSettings& r) {
        return {{"brightness", r.brightness},
                {"contrast", r.contrast},
                {"hue", r.hue},
                {"saturation", r.saturation}};
    }
};

template <>
struct Document<AudioSettings> {
    static constexpr const char* kEncode =
        "{sampleRate:%d, codec:%Q, resample:%d, gain:%d, onvifCodec:%Q, inputMode:%d, "
        "checkRate:%d, onvifG:%d}";
    static constexpr const char* kDecode = kEncode;
    static JsonFields fields(AudioSettings& r) {
        return {{"sampleRate", r.sampleRate}, {"codec", r.codec},
                {"resample", r.resample},     {"gain", r.gain},
                {"onvifCodec", r.onvifCodec}, {"inputMode", r.inputMode},
                {"checkRate", r.checkRate},   {"onvifG", r.onvifG711}};
    }
};

template <>
struct Document<SysInfo> {
    static constexpr const char* kEncode =
        "{devSeq:%Q, softVersion:%Q, hardVersion:%Q, uptime:%Q, serverIP:%Q, path:%Q, "
        "place:%d, show:%d, opacity:%d}";
    static constexpr const char* kDecode = kEncode;
    static JsonFields fields(SysInfo& r) {
        return {{"devSeq", r.devSeq},
                {"softVersion", r.softVersion},
                {"hardVersion", r.hardVersion},
                {"uptime", r.uptime},
                {"serverIP", r.serverIP},
                {"path", r.path},
                {"place", r.place},
                {"show", r.show},
                {"opacity", r.opacity}};
    }
};

template <>
struct Document<StreamFormat> {
    static constexpr const char* kEncode = "{streamURL:%Q, videoFormat:%Q, audioFormat:%Q}";
    static constexpr const char* kDecode = nullptr;
    static JsonFields fields(StreamFormat& r) {
        return {{"streamURL", r.streamURL},
                {"videoFormat", r.videoFormat},
                {"audioFormat", r.audioFormat}};
    }
};

template <>
struct Document<OutputSettings> {
    static constexpr const char* kEncode =
        "{videoRes:%Q, audioType:%d, audioVolume:%d, typeStr:%Q, resStr:%Q}";
    static constexpr const char* kDecode = kEncode;
    static JsonFields fields(OutputSettings& r) {
        return {{"videoRes", r.videoRes},
                {"audioType", r.audioType},
                {"audioVolume", r.audioVolume},
                {"typeStr", r.typeStr},
                {"resStr", r.resStr}};
    }
};

template <>
struct Document<LteStatus> {
    static constexpr const char* kEncode =
        "{state:%d, server:%Q, signal:%d, ip:%Q, mask:%Q, gate:%Q, iccid:%Q, esimActive:%d}";
    static constexpr const char* kDecode =
        "{state:%d, server:%Q, signal:%d, ip:%Q, mask:%Q, gate:%Q}";
    static JsonFields fields(LteStatus& r) {
        return {{"state", r.state},   {"server", r.server},
                {"signal", r.signal}, {"ip", r.ip},
                {"mask", r.mask},     {"gate", r.gate},
                {"iccid", r.iccid},   {"esimActive", r.esimActive}};
    }
};

template <>
struct Document<Rs485Settings> {
    static constexpr const char* kEncode =
        "{ip:%Q, port:%d, baudrate:%d, stopbits:%d, databits:%d}";
    static constexpr const char* kDecode = kEncode;
    static JsonFields fields(Rs485Settings& r) {
        return {{"ip", r.ip},
                {"port", r.port},
                {"baudrate", r.baudrate},
                {"stopbits", r.stopbits},
                {"databits", r.databits}};
    }
};

template <>
struct Document<LogoSettings> {
    static constexpr const char* kEncode = "{enable:%d, x:%d, y:%d, opacity:%d, name:%Q}";
    static constexpr const char* kDecode = kEncode;
    static JsonFields fields(LogoSettings& r) {
        return {
            {"enable", r.enable}, {"x", r.x}, {"y", r.y}, {"opacity", r.opacity}, {"name", r.name}};
    }
};

template <>
struct Document<TimeSettings> {
    static constexpr const char* kEncode =
        "{year:%d, month:%d, date:%d, day:%d, hour:%d, min:%d, sec:%d}";
    static constexpr const char* kDecode = kEncode;
    static JsonFields fields(TimeSettings& r) {
        return {{"year", r.year}, {"month", r.month}, {"date", r.date}, {"day", r.day},
                {"hour", r.hour}, {"min", r.min},     {"sec", r.sec}};
    }
};

template <>
struct Document<FtpSettings> {
    static constexpr const char* kEncode =
        "{ftpserverIP:%Q, username:%Q, fpassword:%Q, timeMode:%d, ftptime:%d, "
        "timeServer:%Q, localtimezone:%d}";
    static constexpr const char* kDecode = kEncode;
    static JsonFields fields(FtpSettings& r) {
        return {{"ftpserverIP", r.ftpserverIP},
                {"username", r.username},
                {"fpassword", r.fpassword},
                {"timeMode", r.timeMode},
                {"ftptime", r.ftptime},
                {"timeServer", r.timeServer},
                {"localtimezone", r.localtimezone}};
    }
};

template <>
struct Document<UpgradeServerSettings> {
    static constexpr const char* kEncode = "{serverIP:%Q, version:%Q}";
    static constexpr const char* kDecode = kEncode;
    static JsonFields fields(UpgradeServerSettings& r) {
        return {{"serverIP", r.serverIP}, {"version", r.version}};
    }
};

template <>
struct Document<IrcutSettings> {
    static constexpr const char* kEncode =
        "{ircutDir:%d, devIme:%Q, rtmpManager:%Q, gpsManager:%Q, gpsInterval:%d}";
    static constexpr const char* kDecode = kEncode;
    static JsonFields fields(IrcutSettings& r) {
        return {{"ircutDir", r.ircutDir},
                {"devIme", r.devIme},
                {"rtmpManager", r.rtmpManager},
                {"gpsManager", r.gpsManager},
                {"gpsInterval", r.gpsInterval}};
    }
};

template <>
struct Document<SecuritySettings> {
    static constexpr const char* kEncode = "{httpsOnly:%d,provisionLock:%d}";
    static constexpr const char* kDecode = kEncode;
    static JsonFields fields(SecuritySettings& r) {
        return {{"httpsOnly", r.httpsOnly}, {"provisionLock", r.provisionLock}};
    }
};

// The SRT document: written with whether a passphrase is set, read with the passphrase.
struct SrtDocument {
    static constexpr const char* kEncode =
        "{enabled:%d,mode:%Q,port:%d,callerAddr:%Q,callerPort:%d,latency:%d,passphraseSet:%B,"
        "keyLength:%d,streamId:%Q}";
    static constexpr const char* kDecode =
        "{enabled:%d,mode:%Q,port:%d,callerAddr:%Q,callerPort:%d,latency:%d,passphrase:%Q,"
        "keyLength:%d,streamId:%Q}";
    // passphraseSet is bound to an int of the caller's; the passphrase only to decoding.
    static JsonFields fields(SrtSettings& r, int& passphraseSet) {
        return {{"enabled", r.enabled},
                {"mode", r.mode},
                {"port", r.port},
                {"callerAddr", r.callerAddr},
                {"callerPort", r.callerPort},
                {"latency", r.latency},
                {"passphrase", r.passphrase},
                {"passphraseSet", passphraseSet},
                {"keyLength", r.keyLength},
                {"streamId", r.streamId}};
    }
};

using JsonTree = std::unique_ptr<cJSON, void (*)(cJSON*)>;

// A body nested too deeply is not parsed at all: the parser's recursion stays bounded.
JsonTree parse(std::string_view body) {
    if (!JsonDepth::within(body)) {
        return JsonTree(nullptr, cJSON_Delete);
    }
    return JsonTree(cJSON_ParseWithLength(body.data(), body.size()), cJSON_Delete);
}

void setCut(std::string printed, std::string& text) {
    if (printed.size() > JsonFormat::kMaxText) {
        printed.resize(JsonFormat::kMaxText);
    }
    text = std::move(printed);
}

template <class Record>
void encode(const Record& record, std::string& text) {
    Record copy = record;  // the field table binds to a mutable record
    setCut(JsonFormat::print(Document<Record>::kEncode, Document<Record>::fields(copy)), text);
}

template <class Record>
bool decode(Record& record, std::string_view body) {
    static_assert(Document<Record>::kDecode != nullptr, "this document is never read");
    const JsonTree tree = parse(body);
    JsonFormat::scan(Document<Record>::kDecode, tree.get(), Document<Record>::fields(record));
    return true;
}

}  // namespace

void JsonCast::toJson(const InputStatus& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const StreamStatus& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const StreamUrl& r, std::string& t) {
    if (r.srt.empty()) {
        encode(r, t);
        return;
    }
    StreamUrl copy = r;
    setCut(
        JsonFormat::print(Document<StreamUrl>::kEncodeWithSrt, Document<StreamUrl>::fields(copy)),
        t);
}
void JsonCast::toJson(const NetworkSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const WifiSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const VideoSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const ProtocolSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const ChromaSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const AudioSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const SysInfo& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const StreamFormat& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const OutputSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const LteStatus& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const Rs485Settings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const LogoSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const TimeSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const FtpSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const UpgradeServerSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const IrcutSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const SecuritySettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const SrtSettings& r, std::string& t) {
    SrtSettings copy = r;
    int passphraseSet = r.passphrase.empty() ? 0 : 1;
    t = JsonFormat::print(SrtDocument::kEncode, SrtDocument::fields(copy, passphraseSet));
}

void JsonCast::toJson(const OsdSettings& first, const OsdSettings& second, std::string& text) {
    using Doc = Document<OsdSettings>;
    OsdSettings a = first;
    OsdSettings b = second;
    setCut("[" + JsonFormat::print(Doc::kFirst, Doc::fields(a)) + "," +
               JsonFormat::print(Doc::kSecond, Doc::fields(b)) + "]",
           text);
}

bool JsonCast::fromJson(NetworkSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(WifiSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(VideoSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(ProtocolSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(ChromaSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(AudioSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(OutputSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(LteStatus& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(Rs485Settings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(LogoSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(TimeSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(IrcutSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(SecuritySettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(SrtSettings& r, std::string_view b) {
    int passphraseSet = 0;  // a reply key: never read from a request
    const JsonTree tree = parse(b);
    JsonFormat::scan(SrtDocument::kDecode, tree.get(), SrtDocument::fields(r, passphraseSet));
    return true;
}

bool JsonCast::fromJson(SysInfo& r, std::string_view body) {
    decode(r, body);
    std::printf("storage infor:%s, %s, %d\n", r.serverIP.c_str(), r.path.c_str(), r.place);
    return true;
}

bool JsonCast::fromJson(FtpSettings& r, std::string_view body) {
    decode(r, body);
    // The log is readable by anyone on the console or in a bug report: the password stays out.
    std::printf("FTP: %s, %s, %s, %d\n", r.ftpserverIP.c_str(), r.username.c_str(),
                r.fpassword.empty() ? "" : "********", r.ftptime);
    std::printf("timeServer:%s, timeZone:%d\n", r.timeServer.c_str(), r.localtimezone);
    return true;
}

bool JsonCast::fromJson(UpgradeServerSettings& r, std::string_view body) {
    decode(r, body);
    std::printf("HttpServer : %s\n", r.serverIP.c_str());
    return true;
}

bool JsonCast::fromJson(OsdSettings& first, OsdSettings& second, std::string_view body) {
    using Doc = Document<OsdSettings>;
    const JsonTree tree = parse(body);
    if (!cJSON_IsArray(tree.get())) {
        return true;
    }
    JsonFormat::scan(Doc::kDecode, cJSON_GetArrayItem(tree.get(), 0), Doc::fields(first));
    JsonFormat::scan(Doc::kDecode, cJSON_GetArrayItem(tree.get(), 1), Doc::fields(second));
    return true;
}

}  // namespace enc
