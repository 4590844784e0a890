#include "EncoderConfigFile.h"

#include <algorithm>
#include <string>
#include <variant>

#include "FileLock.h"

#include "SettingsKeys.h"
#include "SettingsLimits.h"

namespace enc {
namespace {

// One stored key: its name and the record field it persists.
template <class R>
struct KeyBinding {
    const char* key;
    std::variant<int R::*, unsigned int R::*, std::string R::*> field;
};

// The key tables, each in the order keys are set on save (which decides where keys that are
// new to the file are appended).
const KeyBinding<EncoderConfigFile> kCredentialKeys[] = {
    {"author", &EncoderConfigFile::author},
    {"pwd", &EncoderConfigFile::pwd},
};

const KeyBinding<InputStatus> kInputKeys[] = {
    {"type", &InputStatus::type},
    {"video", &InputStatus::video},
    {"audio", &InputStatus::audio},
};

const KeyBinding<OutputSettings> kOutputKeys[] = {
    {"videoRes", &OutputSettings::videoRes},
    {"audioType", &OutputSettings::audioType},
    {"audioVolume", &OutputSettings::audioVolume},
};

const KeyBinding<StreamStatus> kStatusKeys[] = {
    {"video", &StreamStatus::video},
    {"audio", &StreamStatus::audio},
    {"addr", &StreamStatus::addr},
    {"ts", &StreamStatus::ts},
};

const KeyBinding<StreamUrl> kUrlKeys[] = {
    {"http", &StreamUrl::http},
    {"rtsp", &StreamUrl::rtsp},
};

const KeyBinding<NetworkSettings> kNetworkKeys[] = {
    {keys::kConnectionType, &NetworkSettings::connectionType},
    {keys::kDhcp, &NetworkSettings::dhcp},
    {"dns_mode", &NetworkSettings::dnsMode},
    {keys::kIp, &NetworkSettings::ip},
    {keys::kMask, &NetworkSettings::mask},
    {keys::kGate, &NetworkSettings::gate},
    {keys::kDnsFirst, &NetworkSettings::dnsFirst},
    {keys::kDnsSecond, &NetworkSettings::dnsSecond},
    {keys::kMac, &NetworkSettings::mac},
};

const KeyBinding<Rs485Settings> kRs485Keys[] = {
    {"s_ip", &Rs485Settings::ip},           {"s_port", &Rs485Settings::port},
    {"baudrate", &Rs485Settings::baudrate}, {"stopbits", &Rs485Settings::stopbits},
    {"databits", &Rs485Settings::databits},
};

const KeyBinding<WifiSettings> kWifiKeys[] = {
    {"encrypt", &WifiSettings::encrypt}, {"ip", &WifiSettings::ip},
    {"gate", &WifiSettings::gate},       {"mask", &WifiSettings::mask},
    {"state", &WifiSettings::state},     {"essid", &WifiSettings::essid},
    {"key", &WifiSettings::key},
};

const KeyBinding<VideoSettings> kVideoKeys[] = {
    {"bitmode", &VideoSettings::bitmode},     {"bitrate", &VideoSettings::bitrate},
    {"field", &VideoSettings::field},         {"codec", &VideoSettings::codec},
    {"framerate", &VideoSettings::framerate}, {"gop", &VideoSettings::gop},
    {"profile", &VideoSettings::profile},     {"resolution", &VideoSettings::resolution},
    {"tolerate", &VideoSettings::tolerate},   {"minQp", &VideoSettings::minQp},
    {"maxQp", &VideoSettings::maxQp},
};

const KeyBinding<ProtocolSettings> kProtocolKeys[] = {
    {"httpEnabled", &ProtocolSettings::httpEnabled},
    {"httpName", &ProtocolSettings::httpName},
    {keys::kHttpPort, &ProtocolSettings::httpPort},
    {"iotEnabled", &ProtocolSettings::iotEnabled},
    {"onvifEnabled", &ProtocolSettings::onvifEnabled},
    {"multicastAddr", &ProtocolSettings::multicastAddr},
    {"multicastEnabled", &ProtocolSettings::multicastEnabled},
    {"multicastPort", &ProtocolSettings::multicastPort},
    {"tsAddr", &ProtocolSettings::tsAddr},
    {"tsEnabled", &ProtocolSettings::tsEnabled},
    {"tsPort", &ProtocolSettings::tsPort},
    {"tsHttpAddr", &ProtocolSettings::tsHttpAddr},
    {"tsHttpEnabled", &ProtocolSettings::tsHttpEnabled},
    {"tsHttpPort", &ProtocolSettings::tsHttpPort},
    {"flvAddr", &ProtocolSettings::flvAddr},
    {"flvEnabled", &ProtocolSettings::flvEnabled},
    {"flvPort", &ProtocolSettings::flvPort},
    {"hlsAddr", &ProtocolSettings::hlsAddr},
    {"hlsEnabled", &ProtocolSettings::hlsEnabled},
    {"hlsPort", &ProtocolSettings::hlsPort},
    {"rtmpAddrMode", &ProtocolSettings::rtmpAddrMode},
    {"rtmpAddr", &ProtocolSettings::rtmpAddr},
    {"rtmpDir", &ProtocolSettings::rtmpDir},
    {"rtmpEnabled", &ProtocolSettings::rtmpEnabled},
    {"rtmpNode", &ProtocolSettings::rtmpNode},
    {"rtmpPassword", &ProtocolSettings::rtmpPassword},
    {"rtmpPort", &ProtocolSettings::rtmpPort},
    {"rtmpUser", &ProtocolSettings::rtmpUser},
    {"rtspEnabled", &ProtocolSettings::rtspEnabled},
    {"rtspName", &ProtocolSettings::rtspName},
    {"rtspPort", &ProtocolSettings::rtspPort},
};

const KeyBinding<OsdSettings> kOsdKeys[] = {
    {"bkColor", &OsdSettings::bkColor},
    {"bkMode", &OsdSettings::bkMode},
    {"fontSize", &OsdSettings::fontSize},
    {"opacity", &OsdSettings::opacity},
    {"text", &OsdSettings::text},
    {"osdTextMode", &OsdSettings::textMode},
    {"textColor", &OsdSettings::textColor},
    {"x", &OsdSettings::x},
    {"y", &OsdSettings::y},
};

const KeyBinding<LogoSettings> kLogoKeys[] = {
    {"logo_enable", &LogoSettings::enable}, {"logo_x", &LogoSettings::x},
    {"logo_y", &LogoSettings::y},           {"logo_opacity", &LogoSettings::opacity},
    {"logo_name", &LogoSettings::name},
};

const KeyBinding<ChromaSettings> kChromaMainKeys[] = {
    {"brightness", &ChromaSettings::brightness},
    {"contrast", &ChromaSettings::contrast},
    {"hue", &ChromaSettings::hue},
    {"saturation", &ChromaSettings::saturation},
};

const KeyBinding<ChromaSettings> kChromaSubKeys[] = {
    {"brightness_s", &ChromaSettings::brightness},
    {"contrast_s", &ChromaSettings::contrast},
    {"hue_s", &ChromaSettings::hue},
    {"saturation_s", &ChromaSettings::saturation},
};

const KeyBinding<AudioSettings> kAudioKeys[] = {
    {"checkRate", &AudioSettings::checkRate},
    {"codec", &AudioSettings::codec},
    {"gain", &AudioSettings::gain},
    {"inputMode", &AudioSettings::inputMode},
    {"onvifCodec", &AudioSettings::onvifCodec},
    {"resample", &AudioSettings::resample},
    {"sampleRate", &AudioSettings::sampleRate},
    {"onvifG711", &AudioSettings::onvifG711},
};

const KeyBinding<UpgradeServerSettings> kUpgradeKeys[] = {
    {"HttpServer", &UpgradeServerSettings::serverIP},
};

const KeyBinding<FtpSettings> kFtpKeys[] = {
    {"FtpServer", &FtpSettings::ftpserverIP},
    {"user", &FtpSettings::username},
    {"passwd", &FtpSettings::fpassword},
    {"cycle", &FtpSettings::ftptime},
    {"time_mode", &FtpSettings::timeMode},
    {"timeServer", &FtpSettings::timeServer},
    {"localtimezone", &FtpSettings::localtimezone},
};

const KeyBinding<SysInfo> kStorageKeys[] = {
    {"serverIP", &SysInfo::serverIP},
    {"path", &SysInfo::path},
    {"place", &SysInfo::place},
    {"opacity", &SysInfo::opacity},
    {"show", &SysInfo::show},
    {"add_pict_1", &SysInfo::add_pict_1},
    {"add_pict_2", &SysInfo::add_pict_2},
};

const KeyBinding<SecuritySettings> kSecurityKeys[] = {
    {keys::kHttpsOnly, &SecuritySettings::httpsOnly},
    {keys::kProvisionLock, &SecuritySettings::provisionLock},
};

const KeyBinding<SrtSettings> kSrtKeys[] = {
    {"enabled", &SrtSettings::enabled},
    {"mode", &SrtSettings::mode},
    {"port", &SrtSettings::port},
    {"callerAddr", &SrtSettings::callerAddr},
    {"callerPort", &SrtSettings::callerPort},
    {"latency", &SrtSettings::latency},
    {"passphrase", &SrtSettings::passphrase},
    {"keyLength", &SrtSettings::keyLength},
    {"streamId", &SrtSettings::streamId},
};

// Reads every key of a table that exists in the section; missing keys keep their field.
struct Loader {
    const comn::IniFile& ini;

    template <class R, size_t N>
    void operator()(const std::string& sectionName, R& record,
                    const KeyBinding<R> (&table)[N]) const {
        if (!ini.hasSection(sectionName)) {
            return;
        }
        for (const auto& binding : table) {
            if (!ini.hasEntry(sectionName, binding.key)) {
                continue;
            }
            std::visit(
                [&](auto member) {
                    using Field = std::decay_t<decltype(record.*member)>;
                    if constexpr (std::is_same_v<Field, std::string>) {
                        // Texts keep their inner blanks ("Camera one").
                        record.*member = ini.getValue(sectionName, binding.key, "");
                    } else {
                        ini.getValue(sectionName, binding.key, record.*member);
                    }
                },
                binding.field);
        }
    }
};

// Notes, key by key in visiting order, the value a load has just set (the Loader's result),
// or nothing where it left the field alone: a missing key, or a number without digits.
struct LoadRecorder {
    const comn::IniFile& ini;
    std::vector<std::optional<std::variant<int, unsigned int, std::string>>>& loaded;

    template <class R, size_t N>
    void operator()(const std::string& sectionName, R& record,
                    const KeyBinding<R> (&table)[N]) const {
        const bool section = ini.hasSection(sectionName);
        for (const auto& binding : table) {
            if (!section || !ini.hasEntry(sectionName, binding.key)) {
                loaded.emplace_back();
                continue;
            }
            std::visit(
                [&](auto member) {
                    using Field = std::decay_t<decltype(record.*member)>;
                    const bool blank =
                        !std::is_same_v<Field, std::string> &&
                        ini.getValue(sectionName, binding.key, "")
                                .find_first_not_of(" \t\r\n\f\v") == std::string::npos;
                    if (blank) {
                        loaded.emplace_back();  // the typed read keeps the field's value
                    } else {
                        loaded.emplace_back(record.*member);
                    }
                },
                binding.field);
        }
    }
};

// Sets the values a LoadRecorder noted, in the same visiting order.
struct LoadReplayer {
    const std::vector<std::optional<std::variant<int, unsigned int, std::string>>>& loaded;
    size_t& next;

    template <class R, size_t N>
    void operator()(const std::string&, R& record, const KeyBinding<R> (&table)[N]) const {
        for (const auto& binding : table) {
            const auto& value = loaded[next++];
            if (!value) {
                continue;
            }
            std::visit(
                [&](auto member) {
                    using Field = std::decay_t<decltype(record.*member)>;
                    record.*member = std::get<Field>(*value);
                },
                binding.field);
        }
    }
};

// Writes every key of a table into the model, in table order.
struct Saver {
    comn::IniFile& ini;

    template <class R, size_t N>
    void operator()(const std::string& sectionName, R& record,
                    const KeyBinding<R> (&table)[N]) const {
        for (const auto& binding : table) {
            std::visit([&](auto member) { ini.setValue(sectionName, binding.key, record.*member); },
                       binding.field);
        }
    }
};

// Writes the keys of the tables whose record is one of owned; every other key of the model
// stays as the file had it.
struct OwnedSaver {
    comn::IniFile& ini;
    std::initializer_list<const void*> owned;

    template <class R, size_t N>
    void operator()(const std::string& sectionName, R& record,
                    const KeyBinding<R> (&table)[N]) const {
        if (std::find(owned.begin(), owned.end(), static_cast<const void*>(&record)) !=
            owned.end()) {
            Saver{ini}(sectionName, record, table);
        }
    }
};

}  // namespace

EncoderConfigFile::EncoderConfigFile() {
    input.type = "HDMI";
    input.video = "1920*1080@60";
    input.audio = "(16 bits PCM) 44.1K";

    network.ip = "192.168.1.230";
    network.mask = "255.255.255.0";
    network.gate = "192.168.1.1";
    network.dnsFirst = "114.114.114.114";
    network.dnsSecond = "192.168.1.1";
    network.mac = "44:03:2c:56:79:40";

    wifi.ip = "192.168.1.231";
    wifi.mask = "255.255.255.0";
    wifi.gate = "192.168.1.1";

    for (int i = 0; i < 2; ++i) {
        const bool main = i == 0;
        const std::string name = main ? "main" : "sub";

        streamStatus[i].video = "1920*1080@60";
        streamStatus[i].audio = "16k";
        streamStatus[i].addr = "232.255.42.42";

        // Example URLs on the default wired address.
        streamUrl[i].rtsp = "rtsp://192.168.1.230:554/" + name;
        streamUrl[i].http = "http://192.168.1.230:80/" + name;

        video[i].codec = main ? "H.265" : "H.264";
        video[i].profile = "main";
        video[i].framerate = defaults::kFramerate;
        video[i].gop = defaults::kGop;
        video[i].resolution = "0*0";
        video[i].bitrate = 2048;

        ProtocolSettings& p = protocol[i];
        p.httpName = "/" + name;
        p.httpPort = defaults::kHttpPort;
        p.rtspName = "/" + name;
        p.rtspEnabled = 1;
        p.rtspPort = defaults::kRtspPort;
        p.multicastAddr = "235.250.42.42";
        p.multicastPort = defaults::kMulticastPort[i];
        p.tsAddr = "192.168.1.98";
        p.tsPort = defaults::kTsPort[i];
        p.rtmpAddr = "192.168.1.75";
        p.rtmpPort = defaults::kRtmpPort;
        p.rtmpDir = "live";
        p.rtmpNode = name;

        for (int k = 0; k < 2; ++k) {
            OsdSettings& o = osd[i][k];
            o.x = k == 0 ? 10 : 4000;
            o.y = k == 0 ? 10 : 4000;
            o.fontSize = 1;
            o.opacity = 128;
            o.textColor = 255;
            o.bkColor = 0xFFFFEE;
        }

        const int level = main ? 50 : 0;
        chroma[i] = ChromaSettings{level, level, level, level};

        srt[i].mode = keys::kSrtModeListener;
        srt[i].port = defaults::kSrtPort[i];
        srt[i].latency = defaults::kSrtLatencyMs;
        srt[i].keyLength = defaults::kSrtKeyLength;
    }

    audio.sampleRate = 64000;
    audio.codec = "AAC";
    audio.resample = 48000;
    audio.onvifCodec = "G.711";
}

template <class Visitor>
void EncoderConfigFile::forEachGroup(Visitor&& visit) {
    visit("input", *this, kCredentialKeys);
    visit("input", input, kInputKeys);
    visit("output", output, kOutputKeys);
    for (int i = 0; i < 2; ++i) {
        visit(std::string(streamPrefix(i)) + "status", streamStatus[i], kStatusKeys);
    }
    for (int i = 0; i < 2; ++i) {
        visit(std::string(streamPrefix(i)) + "url", streamUrl[i], kUrlKeys);
    }
    visit(keys::kNetworkSection, network, kNetworkKeys);
    visit("network", rs485, kRs485Keys);
    visit("wifi", wifi, kWifiKeys);
    for (int i = 0; i < 2; ++i) {
        visit(std::string(streamPrefix(i)) + "video", video[i], kVideoKeys);
    }
    for (int i = 0; i < 2; ++i) {
        visit(std::string(streamPrefix(i)) + "protocol", protocol[i], kProtocolKeys);
    }
    for (int i = 0; i < 2; ++i) {
        for (int k = 0; k < 2; ++k) {
            visit(std::string(streamPrefix(i)) + "osd_" + std::to_string(k), osd[i][k], kOsdKeys);
        }
    }
    for (int i = 0; i < 2; ++i) {
        visit(std::string(streamPrefix(i)) + "osd_0", logo[i], kLogoKeys);
    }
    visit("network", chroma[0], kChromaMainKeys);
    visit("network", chroma[1], kChromaSubKeys);
    visit("audio", audio, kAudioKeys);
    visit("server", upgradeServer, kUpgradeKeys);
    visit("server", ftp, kFtpKeys);
    visit("storage", sysInfo, kStorageKeys);
    visit(keys::kSecuritySection, security, kSecurityKeys);
    for (int i = 0; i < 2; ++i) {
        visit(std::string(streamPrefix(i)) + keys::kSrtSectionSuffix, srt[i], kSrtKeys);
    }
}

bool EncoderConfigFile::load(const std::string& path) {
    // Noted before the reading, so that a change during it shows at the next reload.
    m_loadedStamp.take(path);
    m_loaded.clear();
    if (!m_ini.load(path)) {
        if (!m_loadedStamp.absent()) {
            m_loadedStamp.clear();  // there but unreadable: tried again next time
        }
        return false;
    }
    forEachGroup(Loader{m_ini});
    forEachGroup(LoadRecorder{m_ini, m_loaded});
    return true;
}

bool EncoderConfigFile::reload(const std::string& path) {
    if (!m_loadedStamp.unchanged(path)) {
        return load(path);
    }
    if (m_loadedStamp.absent()) {
        return false;  // still missing: load() would change nothing either
    }
    size_t next = 0;
    forEachGroup(LoadReplayer{m_loaded, next});
    return true;
}

bool EncoderConfigFile::save(const std::string& path) {
    // The model now holds this record's fields, whatever the file holds after the save.
    m_loadedStamp.clear();
    forEachGroup(Saver{m_ini});
    return m_ini.save(path, kFileMode);
}

bool EncoderConfigFile::update(const std::string& path, std::initializer_list<const void*> owned,
                               const std::function<void()>& change, std::string* error) {
    const comn::FileLock lock(lockPath(path));
    if (!lock.held()) {
        if (error != nullptr) {
            *error = lock.error();
        }
        return false;
    }
    const bool present = reload(path);
    if (!present && !m_loadedStamp.absent()) {
        // There but unreadable: a file of our keys alone would lose all the others.
        if (error != nullptr) {
            *error = path + ": cannot be read";
        }
        return false;
    }
    change();
    m_loadedStamp.clear();  // the model is about to differ from the file
    if (present) {
        forEachGroup(OwnedSaver{m_ini, owned});
    } else {
        m_ini.clear();
        forEachGroup(Saver{m_ini});
    }
    if (!m_ini.save(path, kFileMode)) {
        if (error != nullptr) {
            *error = path + ": cannot be saved";
        }
        return false;
    }
    // The model is now the file: note what a load of it would set, so that the next reload
    // needs no reading (the file was put in place under the lock, see takeWritten).
    m_loaded.clear();
    forEachGroup(Loader{m_ini});
    forEachGroup(LoadRecorder{m_ini, m_loaded});
    m_loadedStamp.takeWritten(path);
    return true;
}

}  // namespace enc
