// The settings documents, one descriptor each (SettingsDocument.h). Odd spellings are the
// device's own and stay: the pages and the media process read them.

#include <algorithm>

#include "EncoderConfigFile.h"
#include "MediaMessage.h"
#include "SettingsCheck.h"
#include "SettingsDocument.h"
#include "SettingsKeys.h"
#include "SettingsLimits.h"

namespace enc {

namespace {

constexpr int kMaxPort = 65535;
// H.264/H.265 quantiser range the encoder accepts.
constexpr int kMinQp = 12;
constexpr int kMaxQp = 51;
// The overlay engine's largest font step and fully opaque value.
constexpr int kMaxFontSize = 7;
constexpr int kMaxOpacity = 128;
constexpr int kDefaultOpacity = 5;
// Position reports more often than this would flood the media process.
constexpr int kMinGpsInterval = 20;

constexpr DocumentSection kNotStored{nullptr, false, {"", ""}};

constexpr DocumentSection section(const char* name) {
    return {name, false, {"", ""}};
}
constexpr DocumentSection perStream(const char* name) {
    return {name, true, {"", ""}};
}

// A port: outside 1..65535 it becomes the stream's default.
constexpr Clamp port(int main, int sub) {
    return Clamp{1, {kMaxPort, kMaxPort}, {main, sub}};
}
constexpr Clamp same(int low, int high, int replacement) {
    return Clamp{low, {high, high}, {replacement, replacement}};
}

// Where a document's record lives in the settings: one record, or one per stream (index 0 or 1).
template <class R, R EncoderConfigFile::*record>
R* single(EncoderConfigFile& settings, int /*index*/) {
    return &(settings.*record);
}
template <class R, R (EncoderConfigFile::*records)[2]>
R* perStreamRecord(EncoderConfigFile& settings, int index) {
    return index == 0 || index == 1 ? &(settings.*records)[index] : nullptr;
}

template <class R>
void publish(std::vector<PublishedLimit>& out) {
    const SettingsDocument<R>& doc = documentOf<R>();
    for (const DocumentField<R>& f : doc.fields) {
        if (f.clamp) {
            out.push_back(
                {doc.path, f.jsonKey, f.clamp->low, {f.clamp->high[0], f.clamp->high[1]}});
        } else if (f.allowed) {
            out.push_back(
                {doc.path, f.jsonKey, f.allowed->low, {f.allowed->high, f.allowed->high}});
        }
    }
}

}  // namespace

std::vector<PublishedLimit> publishedLimits() {
    std::vector<PublishedLimit> out;
    const auto each = [&](auto* type) { publish<std::remove_pointer_t<decltype(type)>>(out); };
    forEachType(NamedDocuments{}, each);
    forEachType(StoredDocuments{}, each);
    return out;
}

std::string sectionOf(const DocumentSection& s, int index) {
    if (!s.perStream) {
        return s.name;
    }
    return std::string(EncoderConfigFile::streamPrefix(index)) + s.name;
}

template <>
const SettingsDocument<EncoderConfigFile>& documentOf() {
    // The web credentials: stored only, never a JSON document.
    static const SettingsDocument<EncoderConfigFile> d{
        nullptr,
        section("input"),
        nullptr,
        nullptr,
        nullptr,
        {{&EncoderConfigFile::author, "author", nullptr},
         {&EncoderConfigFile::pwd, "pwd", nullptr}}};
    return d;
}

template <>
const SettingsDocument<InputStatus>& documentOf() {
    using R = InputStatus;
    static const SettingsDocument<R> d{
        "/input-status",
        section("input"),
        "{type:%Q, video:%Q, audio:%Q}",
        nullptr,
        nullptr,
        {{&R::type, "type", "type"}, {&R::video, "video", "video"}, {&R::audio, "audio", "audio"}}};
    return d;
}

template <>
const SettingsDocument<OutputSettings>& documentOf() {
    using R = OutputSettings;
    static const SettingsDocument<R> d{
        "/output",
        section("output"),
        "{videoRes:%Q, audioType:%d, audioVolume:%d, typeStr:%Q, resStr:%Q}",
        nullptr,
        "{videoRes:%Q, audioType:%d, audioVolume:%d, typeStr:%Q, resStr:%Q}",
        {{&R::videoRes, "videoRes", "videoRes"},
         {&R::audioType, "audioType", "audioType"},
         {&R::audioVolume, "audioVolume", "audioVolume"},
         {&R::typeStr, nullptr, "typeStr"},
         {&R::resStr, nullptr, "resStr"}},
        {single<R, &EncoderConfigFile::output>,
         1,
         nullptr,
         nullptr,
         nullptr,
         nullptr,
         "set av output\n",
         {kCodeOutputChanged, kCodeOutputChanged}}};
    return d;
}

template <>
const SettingsDocument<StreamStatus>& documentOf() {
    using R = StreamStatus;
    static const SettingsDocument<R> d{
        "/stream-status",
        perStream("status"),
        "{addr:%Q, video:%Q, audio:%Q, ts:%Q, tsHtttp:%Q, flv:%Q, hls:%Q}",
        nullptr,
        nullptr,
        {{&R::video, "video", "video"},
         {&R::audio, "audio", "audio"},
         {&R::addr, "addr", "addr"},
         {&R::ts, "ts", "ts"},
         {&R::tsHttp, nullptr, "tsHtttp"},
         {&R::flv, nullptr, "flv"},
         {&R::hls, nullptr, "hls"}}};
    return d;
}

template <>
const SettingsDocument<StreamUrl>& documentOf() {
    using R = StreamUrl;
    static const SettingsDocument<R> d{"/stream-url",
                                       perStream("url"),
                                       "{http:%Q, rtsp:%Q}",
                                       "{http:%Q, rtsp:%Q, srt:%Q, srtMode:%Q}",
                                       nullptr,
                                       {{&R::http, "http", "http"},
                                        {&R::rtsp, "rtsp", "rtsp"},
                                        {&R::srt, nullptr, "srt"},
                                        {&R::srtMode, nullptr, "srtMode"}}};
    return d;
}

template <>
const SettingsDocument<NetworkSettings>& documentOf() {
    using R = NetworkSettings;
    static const SettingsDocument<R> d{
        "/network",
        section(keys::kNetworkSection),
        "{connectionType:%d, dhcp:%B, dnsMode:%d, ip:%Q, mask:%Q, gate:%Q, "
        "dnsFirst:%Q,dnsSecond:%Q, mac:%Q}",
        nullptr,
        // dhcp is read as a number, printed as a boolean.
        "{connectionType:%d, dhcp:%d, dnsMode:%d, ip:%Q, mask:%Q, gate:%Q, "
        "dnsFirst:%Q,dnsSecond:%Q, mac:%Q}",
        {{&R::connectionType, keys::kConnectionType, "connectionType"},
         {&R::dhcp, keys::kDhcp, "dhcp"},
         {&R::dnsMode, "dns_mode", "dnsMode"},
         {&R::ip, keys::kIp, "ip"},
         {&R::mask, keys::kMask, "mask"},
         {&R::gate, keys::kGate, "gate"},
         {&R::dnsFirst, keys::kDnsFirst, "dnsFirst"},
         {&R::dnsSecond, keys::kDnsSecond, "dnsSecond"},
         {&R::mac, keys::kMac, "mac"}},
        {single<R, &EncoderConfigFile::network>,
         1,
         SettingsCheck::network,
         nullptr,
         nullptr,
         nullptr,
         nullptr,
         {0, 0},
         true}};
    return d;
}

template <>
const SettingsDocument<Rs485Settings>& documentOf() {
    using R = Rs485Settings;
    static const SettingsDocument<R> d{"/rs485",
                                       section(keys::kNetworkSection),
                                       "{ip:%Q, port:%d, baudrate:%d, stopbits:%d, databits:%d}",
                                       nullptr,
                                       "{ip:%Q, port:%d, baudrate:%d, stopbits:%d, databits:%d}",
                                       {{&R::ip, "s_ip", "ip"},
                                        {&R::port, "s_port", "port"},
                                        {&R::baudrate, "baudrate", "baudrate"},
                                        {&R::stopbits, "stopbits", "stopbits"},
                                        {&R::databits, "databits", "databits"}},
                                       {single<R, &EncoderConfigFile::rs485>,
                                        1,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        {0, 0},
                                        true}};
    return d;
}

template <>
const SettingsDocument<WifiSettings>& documentOf() {
    using R = WifiSettings;
    static const SettingsDocument<R> d{
        "/wifi",
        section(keys::kWifiSection),
        "{state:%d, ip:%Q, mask:%Q, gate:%Q, encrypt:%d, essid:%Q,key:%Q}",
        nullptr,
        "{state:%d, ip:%Q, mask:%Q, gate:%Q, encrypt:%d, essid:%Q,key:%Q}",
        {{&R::encrypt, keys::kEncrypt, "encrypt"},
         {&R::ip, keys::kIp, "ip"},
         {&R::gate, keys::kGate, "gate"},
         {&R::mask, keys::kMask, "mask"},
         {&R::state, "state", "state"},
         {&R::essid, "essid", "essid"},
         {&R::key, "key", "key"}},
        {single<R, &EncoderConfigFile::wifi>,
         1,
         SettingsCheck::wifi,
         nullptr,
         nullptr,
         nullptr,
         nullptr,
         {0, 0},
         true}};
    return d;
}

template <>
const SettingsDocument<VideoSettings>& documentOf() {
    using R = VideoSettings;
    static const SettingsDocument<R> d{
        "/video",
        perStream("video"),
        "{codec:%Q, profile:%Q, framerate:%d, bitmode:%d, field:%d, gop:%d, "
        "resolution:%Q,bitrate:%d, tolerate:%d, minQp:%d, maxQp:%d}",
        nullptr,
        "{codec:%Q, field:%d, profile:%Q, framerate:%d, bitmode:%d, gop:%d, "
        "resolution:%Q,bitrate:%d, tolerate:%d, minQp:%d, maxQp:%d}",
        {{&R::bitmode, "bitmode", "bitmode"},
         {&R::bitrate, "bitrate", "bitrate", Clamp{256, {12000, 12000}, {2500, 1000}}},
         {&R::field, "field", "field"},
         {&R::codec, "codec", "codec"},
         // The main stream follows the input's rate, the sub stream at most 30 fps.
         {&R::framerate, "framerate", "framerate",
          Clamp{15, {kFollowsInput, 30}, {defaults::kFramerate, defaults::kFramerate}}},
         {&R::gop, "gop", "gop", same(2, 200, defaults::kGop)},
         {&R::profile, "profile", "profile"},
         {&R::resolution, "resolution", "resolution"},
         {&R::tolerate, "tolerate", "tolerate"},
         {&R::minQp, "minQp", "minQp", same(kMinQp, kMaxQp, kMinQp)},
         {&R::maxQp, "maxQp", "maxQp", same(kMinQp, kMaxQp, 40)}},
        {perStreamRecord<R, &EncoderConfigFile::video>,
         1,
         nullptr,
         // The encoder rejects a lower limit above the upper one; meet at the upper limit.
         [](R& v) { v.minQp = std::min(v.minQp, v.maxQp); },
         nullptr,
         nullptr,
         "Encode index:%d\n",
         {kCodeMainVideo, kCodeSubVideo}}};
    return d;
}

template <>
const SettingsDocument<ProtocolSettings>& documentOf() {
    using R = ProtocolSettings;
    static const SettingsDocument<R> d{
        "/protocol",
        perStream("protocol"),
        "{httpName:%Q, httpPort:%d, httpEnabled:%B, rtspName:%Q, rtspPort:%d, rtspEnabled:%B,"
        "multicastAddr:%Q, multicastPort:%d, multicastEnabled:%B,"
        "tsAddr:%Q, tsPort:%d, tsEnabled:%B,"
        "tsHttpAddr:%Q, tsHttpPort:%d, tsHttpEnabled:%B,"
        "flvAddr:%Q, flvPort:%d, flvEnabled:%B,"
        "hlsAddr:%Q, hlsPort:%d, hlsEnabled:%B,"
        "rtmpAddrMode:%Q, rtmpAddr:%Q, rtmpPort:%d, rtmpEnabled:%B, rtmpUser:%Q, "
        "rtmpPassword:%Q,onvifEnabled:%B, iotEnabled:%B}",
        nullptr,
        "{httpName:%Q, httpPort:%d, httpEnabled:%B, rtspName:%Q, rtspPort:%d, rtspEnabled:%B,"
        "multicastAddr:%Q, multicastPort:%d, multicastEnabled:%B,"
        "tsAddr:%Q, tsPort:%d, tsEnabled:%B,"
        "tsHttpAddr:%Q, tsHttpPort:%d, tsHttpEnabled:%B,"
        "flvAddr:%Q, flvPort:%d, flvEnabled:%B,"
        "hlsAddr:%Q, hlsPort:%d, hlsEnabled:%B,"
        "rtmpAddrMode:%Q, rtmpAddr:%Q, rtmpPort:%d, rtmpEnabled:%B, rtmpUser:%Q, "
        "rtmpPassword:%Q,onvifEnabled:%B, iotEnabled:%B}",
        {{&R::httpEnabled, "httpEnabled", "httpEnabled"},
         {&R::httpName, "httpName", "httpName"},
         {&R::httpPort, keys::kHttpPort, "httpPort",
          port(defaults::kHttpPort, defaults::kHttpPort)},
         {&R::iotEnabled, "iotEnabled", "iotEnabled"},
         {&R::onvifEnabled, "onvifEnabled", "onvifEnabled"},
         {&R::multicastAddr, "multicastAddr", "multicastAddr"},
         {&R::multicastEnabled, "multicastEnabled", "multicastEnabled"},
         // Both streams fall back to the main stream's group port, as they always did.
         {&R::multicastPort, "multicastPort", "multicastPort",
          port(defaults::kMulticastPort[0], defaults::kMulticastPort[0])},
         {&R::tsAddr, "tsAddr", "tsAddr"},
         {&R::tsEnabled, "tsEnabled", "tsEnabled"},
         {&R::tsPort, "tsPort", "tsPort", port(defaults::kTsPort[0], defaults::kTsPort[1])},
         {&R::tsHttpAddr, "tsHttpAddr", "tsHttpAddr"},
         {&R::tsHttpEnabled, "tsHttpEnabled", "tsHttpEnabled"},
         {&R::tsHttpPort, "tsHttpPort", "tsHttpPort", port(8081, 8082)},
         {&R::flvAddr, "flvAddr", "flvAddr"},
         {&R::flvEnabled, "flvEnabled", "flvEnabled"},
         {&R::flvPort, "flvPort", "flvPort"},
         {&R::hlsAddr, "hlsAddr", "hlsAddr"},
         {&R::hlsEnabled, "hlsEnabled", "hlsEnabled"},
         {&R::hlsPort, "hlsPort", "hlsPort"},
         {&R::rtmpAddrMode, "rtmpAddrMode", "rtmpAddrMode"},
         {&R::rtmpAddr, "rtmpAddr", "rtmpAddr"},
         {&R::rtmpDir, "rtmpDir", nullptr},
         {&R::rtmpEnabled, "rtmpEnabled", "rtmpEnabled"},
         {&R::rtmpNode, "rtmpNode", nullptr},
         {&R::rtmpPassword, "rtmpPassword", "rtmpPassword"},
         {&R::rtmpPort, "rtmpPort", "rtmpPort", port(defaults::kRtmpPort, defaults::kRtmpPort)},
         {&R::rtmpUser, "rtmpUser", "rtmpUser"},
         {&R::rtspEnabled, "rtspEnabled", "rtspEnabled"},
         {&R::rtspName, "rtspName", "rtspName"},
         {&R::rtspPort, "rtspPort", "rtspPort", port(defaults::kRtspPort, defaults::kRtspPort)}},
        {perStreamRecord<R, &EncoderConfigFile::protocol>,
         1,
         nullptr,
         nullptr,
         // The stream status shows where the TS output goes.
         [](EncoderConfigFile& c, int i, const R& p) {
             c.protocol[i] = p;
             c.streamStatus[i].ts = p.tsAddr;
         },
         [](EncoderConfigFile& c, int i) -> const void* { return &c.streamStatus[i]; },
         "protocal index:%d, OPER_GUI_SetSystem_Sub_Live:0x1266\n",
         {kCodeMainProtocol, kCodeSubProtocol}}};
    return d;
}

// Instance 0 is the text overlay, 1 the clock; only the first reply object has textMode,
// and each element of a request array is read with the first object's format.
template <>
const SettingsDocument<OsdSettings>& documentOf() {
    using R = OsdSettings;
    static const SettingsDocument<R> d{
        "/osd",
        perStream("osd_"),  // + the overlay number
        "{x:%d, y:%d, fontSize:%d, opacity:%d, textColor:%d, bkMode:%d, bkColor:%d, text:%Q, "
        "textMode:%d}",
        "{x:%d, y:%d, fontSize:%d, opacity:%d, textColor:%d, bkMode:%d, bkColor:%d, text:%Q}",
        "{x:%d, y:%d, fontSize:%d, opacity:%d, textColor:%d, bkMode:%d, bkColor:%d, text:%Q, "
        "textMode:%d}",
        {{&R::bkColor, "bkColor", "bkColor"},
         {&R::bkMode, "bkMode", "bkMode"},
         {&R::fontSize, "fontSize", "fontSize", Clamp{1, {kMaxFontSize, kMaxFontSize}, {2, 1}}},
         {&R::opacity, "opacity", "opacity", same(0, kMaxOpacity, kDefaultOpacity)},
         {&R::text, "text", "text"},
         {&R::textMode, "osdTextMode", "textMode"},
         {&R::textColor, "textColor", "textColor"},
         {&R::x, "x", "x", Clamp{0, {1920, 8192}, {10, 10}}},
         {&R::y, "y", "y", Clamp{0, {1080, 8192}, {10, 500}}}},
        {[](EncoderConfigFile& c, int i) { return i == 0 || i == 1 ? &c.osd[i][0] : nullptr; },
         2,
         nullptr,
         nullptr,
         nullptr,
         nullptr,
         "OSD index:%d\n",
         {kCodeMainOverlay, kCodeSubOverlay}}};
    return d;
}

template <>
const SettingsDocument<LogoSettings>& documentOf() {
    using R = LogoSettings;
    static const SettingsDocument<R> d{"/logo",
                                       perStream("osd_0"),
                                       "{enable:%d, x:%d, y:%d, opacity:%d, name:%Q}",
                                       nullptr,
                                       "{enable:%d, x:%d, y:%d, opacity:%d, name:%Q}",
                                       {{&R::enable, "logo_enable", "enable"},
                                        {&R::x, "logo_x", "x"},
                                        {&R::y, "logo_y", "y"},
                                        {&R::opacity, "logo_opacity", "opacity"},
                                        {&R::name, "logo_name", "name"}},
                                       {perStreamRecord<R, &EncoderConfigFile::logo>,
                                        1,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        {kCodeMainOverlay, kCodeSubOverlay}}};
    return d;
}

template <>
const SettingsDocument<ChromaSettings>& documentOf() {
    using R = ChromaSettings;
    static const SettingsDocument<R> d{
        "/chroma",
        {keys::kNetworkSection, false, {"", "_s"}},
        "{brightness:%d, contrast:%d, hue:%d, saturation:%d}",
        nullptr,
        "{brightness:%d, contrast:%d, hue:%d, saturation:%d}",
        {{&R::brightness, "brightness", "brightness"},
         {&R::contrast, "contrast", "contrast"},
         {&R::hue, "hue", "hue"},
         {&R::saturation, "saturation", "saturation"}},
        {// Any index but 0 is the sub stream's, as the device always took it.
         [](EncoderConfigFile& c, int i) { return &c.chroma[i == 0 ? 0 : 1]; },
         1,
         nullptr,
         nullptr,
         nullptr,
         nullptr,
         nullptr,
         {kCodeMainChroma, kCodeSubChroma}}};
    return d;
}

template <>
const SettingsDocument<AudioSettings>& documentOf() {
    using R = AudioSettings;
    static const SettingsDocument<R> d{
        "/audio",
        section("audio"),
        "{sampleRate:%d, codec:%Q, resample:%d, gain:%d, onvifCodec:%Q, inputMode:%d, "
        "checkRate:%d, onvifG:%d}",
        nullptr,
        "{sampleRate:%d, codec:%Q, resample:%d, gain:%d, onvifCodec:%Q, inputMode:%d, "
        "checkRate:%d, onvifG:%d}",
        {{&R::checkRate, "checkRate", "checkRate"},
         {&R::codec, "codec", "codec"},
         {&R::gain, "gain", "gain"},
         {&R::inputMode, "inputMode", "inputMode"},
         {&R::onvifCodec, "onvifCodec", "onvifCodec"},
         {&R::resample, "resample", "resample"},
         {&R::sampleRate, "sampleRate", "sampleRate"},
         {&R::onvifG711, "onvifG711", "onvifG"}},
        {single<R, &EncoderConfigFile::audio>,
         1,
         nullptr,
         nullptr,
         nullptr,
         nullptr,
         "change andio format\n",
         {kCodeAudioChanged, kCodeAudioChanged}}};
    return d;
}

template <>
const SettingsDocument<UpgradeServerSettings>& documentOf() {
    using R = UpgradeServerSettings;
    static const SettingsDocument<R> d{
        "/httpset",
        section("server"),
        "{serverIP:%Q, version:%Q}",
        nullptr,
        "{serverIP:%Q, version:%Q}",
        {{&R::serverIP, "HttpServer", "serverIP"}, {&R::version, nullptr, "version"}},
        {single<R, &EncoderConfigFile::upgradeServer>, 1, nullptr, nullptr, nullptr, nullptr,
         "change HttpServer parameter\n"}};
    return d;
}

template <>
const SettingsDocument<FtpSettings>& documentOf() {
    using R = FtpSettings;
    static const SettingsDocument<R> d{
        "/ftplog",
        section("server"),
        "{ftpserverIP:%Q, username:%Q, fpassword:%Q, timeMode:%d, ftptime:%d, "
        "timeServer:%Q, localtimezone:%d}",
        nullptr,
        "{ftpserverIP:%Q, username:%Q, fpassword:%Q, timeMode:%d, ftptime:%d, "
        "timeServer:%Q, localtimezone:%d}",
        {{&R::ftpserverIP, "FtpServer", "ftpserverIP"},
         {&R::username, "user", "username"},
         {&R::fpassword, "passwd", "fpassword"},
         {&R::ftptime, "cycle", "ftptime", same(0, 24, 1)},
         {&R::timeMode, "time_mode", "timeMode"},
         {&R::timeServer, "timeServer", "timeServer"},
         {&R::localtimezone, "localtimezone", "localtimezone", same(-12, 11, 8)}},
        {single<R, &EncoderConfigFile::ftp>, 1, nullptr, nullptr, nullptr, nullptr,
         "change ftp parameter\n"}};
    return d;
}

template <>
const SettingsDocument<SysInfo>& documentOf() {
    using R = SysInfo;
    static const SettingsDocument<R> d{
        "/storage",
        section("storage"),
        "{devSeq:%Q, softVersion:%Q, hardVersion:%Q, uptime:%Q, serverIP:%Q, path:%Q, "
        "place:%d, show:%d, opacity:%d}",
        nullptr,
        "{devSeq:%Q, softVersion:%Q, hardVersion:%Q, uptime:%Q, serverIP:%Q, path:%Q, "
        "place:%d, show:%d, opacity:%d}",
        {{&R::serverIP, "serverIP", "serverIP"},
         {&R::path, "path", "path"},
         {&R::place, "place", "place"},
         {&R::opacity, "opacity", "opacity"},
         {&R::show, "show", "show"},
         {&R::add_pict_1, "add_pict_1", nullptr},
         {&R::add_pict_2, "add_pict_2", nullptr},
         {&R::devSeq, nullptr, "devSeq"},
         {&R::softVersion, nullptr, "softVersion"},
         {&R::hardVersion, nullptr, "hardVersion"},
         {&R::uptime, nullptr, "uptime"}},
        {single<R, &EncoderConfigFile::sysInfo>,
         1,
         nullptr,
         nullptr,
         // The picture paths are the uploads' business, the rest is the device's own.
         [](EncoderConfigFile& c, int, const R& in) {
             c.sysInfo.serverIP = in.serverIP;
             c.sysInfo.path = in.path;
             c.sysInfo.place = in.place;
             c.sysInfo.show = in.show;
             c.sysInfo.opacity = in.opacity;
         },
         nullptr,
         nullptr,
         {kCodeAudioChanged, kCodeAudioChanged}}};
    return d;
}

template <>
const SettingsDocument<SecuritySettings>& documentOf() {
    using R = SecuritySettings;
    static const SettingsDocument<R> d{
        "/security",
        section(keys::kSecuritySection),
        "{httpsOnly:%d,provisionLock:%d,rtspAuth:%d,metricsTokenSet:%B}",
        nullptr,
        "{httpsOnly:%d,provisionLock:%d,rtspAuth:%d,metricsToken:%Q}",
        {{&R::httpsOnly, keys::kHttpsOnly, "httpsOnly", std::nullopt, kSwitch},
         {&R::provisionLock, keys::kProvisionLock, "provisionLock", std::nullopt, kSwitch},
         {&R::rtspAuth, "rtspAuth", "rtspAuth", std::nullopt, kSwitch},
         {&R::metricsToken, nullptr, "metricsToken"},
         {&R::metricsTokenSet, nullptr, "metricsTokenSet"}},
        {single<R, &EncoderConfigFile::security>}};
    return d;
}

// Written with whether a passphrase is set, read with the passphrase itself, which never
// leaves the device.
template <>
const SettingsDocument<SrtSettings>& documentOf() {
    using R = SrtSettings;
    static const SettingsDocument<R> d{
        "/srt",
        perStream(keys::kSrtSectionSuffix),
        "{enabled:%d,mode:%Q,port:%d,callerAddr:%Q,callerPort:%d,latency:%d,passphraseSet:%B,"
        "keyLength:%d,streamId:%Q}",
        nullptr,
        "{enabled:%d,mode:%Q,port:%d,callerAddr:%Q,callerPort:%d,latency:%d,passphrase:%Q,"
        "keyLength:%d,streamId:%Q}",
        {{&R::enabled, "enabled", "enabled"},
         {&R::mode, "mode", "mode"},
         {&R::port, "port", "port"},
         {&R::callerAddr, "callerAddr", "callerAddr"},
         {&R::callerPort, "callerPort", "callerPort"},
         {&R::latency, "latency", "latency"},
         {&R::passphrase, "passphrase", "passphrase", std::nullopt, std::nullopt, "passphraseSet"},
         {&R::keyLength, "keyLength", "keyLength"},
         {&R::streamId, "streamId", "streamId"}},
        {perStreamRecord<R, &EncoderConfigFile::srt>,
         1,
         SettingsCheck::srt,
         nullptr,
         nullptr,
         nullptr,
         "SRT index:%d\n",
         {kCodeMainProtocol, kCodeSubProtocol}},
        true};
    return d;
}

template <>
const SettingsDocument<StreamFormat>& documentOf() {
    using R = StreamFormat;
    static const SettingsDocument<R> d{"/streamformat",
                                       kNotStored,
                                       "{streamURL:%Q, videoFormat:%Q, audioFormat:%Q}",
                                       nullptr,
                                       nullptr,
                                       {{&R::streamURL, nullptr, "streamURL"},
                                        {&R::videoFormat, nullptr, "videoFormat"},
                                        {&R::audioFormat, nullptr, "audioFormat"}}};
    return d;
}

template <>
const SettingsDocument<LteStatus>& documentOf() {
    using R = LteStatus;
    static const SettingsDocument<R> d{
        "/lte",
        kNotStored,
        "{state:%d, server:%Q, signal:%d, ip:%Q, mask:%Q, gate:%Q, iccid:%Q, esimActive:%d}",
        nullptr,
        "{state:%d, server:%Q, signal:%d, ip:%Q, mask:%Q, gate:%Q}",
        {{&R::state, nullptr, "state"},
         {&R::server, nullptr, "server"},
         {&R::signal, nullptr, "signal"},
         {&R::ip, nullptr, "ip"},
         {&R::mask, nullptr, "mask"},
         {&R::gate, nullptr, "gate"},
         {&R::iccid, nullptr, "iccid"},
         {&R::esimActive, nullptr, "esimActive"}}};
    return d;
}

template <>
const SettingsDocument<IrcutSettings>& documentOf() {
    using R = IrcutSettings;
    static const SettingsDocument<R> d{
        "/ircutConf",
        kNotStored,
        "{ircutDir:%d, devIme:%Q, rtmpManager:%Q, gpsManager:%Q, gpsInterval:%d}",
        nullptr,
        "{ircutDir:%d, devIme:%Q, rtmpManager:%Q, gpsManager:%Q, gpsInterval:%d}",
        {{&R::ircutDir, nullptr, "ircutDir"},
         {&R::devIme, nullptr, "devIme"},
         {&R::rtmpManager, nullptr, "rtmpManager"},
         {&R::gpsManager, nullptr, "gpsManager"},
         {&R::gpsInterval, nullptr, "gpsInterval",
          same(kMinGpsInterval, INT_MAX, kMinGpsInterval)}},
        {single<R, &EncoderConfigFile::ircut>}};
    return d;
}

template <>
const SettingsDocument<TimeSettings>& documentOf() {
    using R = TimeSettings;
    static const SettingsDocument<R> d{
        "/adjusttime",
        kNotStored,
        "{year:%d, month:%d, date:%d, day:%d, hour:%d, min:%d, sec:%d}",
        nullptr,
        "{year:%d, month:%d, date:%d, day:%d, hour:%d, min:%d, sec:%d}",
        {{&R::year, nullptr, "year"},
         {&R::month, nullptr, "month"},
         {&R::date, nullptr, "date"},
         {&R::day, nullptr, "day"},
         {&R::hour, nullptr, "hour"},
         {&R::min, nullptr, "min"},
         {&R::sec, nullptr, "sec"}}};
    return d;
}

// A POST changes the keys it names.
template <>
const SettingsDocument<DeviceLabel>& documentOf() {
    using R = DeviceLabel;
    static const SettingsDocument<R> d{
        "/label",
        section("label"),
        "{name:%Q,location:%Q}",
        nullptr,
        "{name:%Q,location:%Q}",
        {{&R::name, "name", "name"}, {&R::location, "location", "location"}},
        {nullptr, 1,
         [](const R& r) {
             return std::max(r.name.size(), r.location.size()) > R::kMaxLabel
                        ? "name and location may have at most " + std::to_string(R::kMaxLabel) +
                              " bytes"
                        : std::string();
         }},
        true};
    return d;
}

}  // namespace enc
