#include "DemoHandler.h"

#include "Console.h"
#include "FactoryReset.h"
#include "Ipv4.h"
#include "LteState.h"
#include "MediaLink.h"
#include "MediaMessage.h"
#include "MediaState.h"
#include "NetModeFile.h"
#include "NetQuery.h"
#include "RemoteUpgrade.h"
#include "SettingsCheck.h"
#include "SettingsLimits.h"
#include "StatusReport.h"
#include "TimeKeeping.h"
#include "Uploads.h"
#include "WifiClientFile.h"
#include "WifiLink.h"
#include "board/Board.h"
#include "board/Command.h"

using namespace enc;

namespace {

bool validIndex(int index) {
    return index == 0 || index == 1;
}

}  // namespace

DemoHandler::DemoHandler() : DemoHandler(MediaLink::instance(), MediaState::instance()) {}

DemoHandler::DemoHandler(MediaSender& sender, const MediaState& media,
                         const std::string& settingsPath, const LteState* lte)
    : m_sender(sender),
      m_media(media),
      m_status(media, lte != nullptr ? *lte : LteState::instance()),
      m_settingsPath(settingsPath.empty() ? board::path(kSettingsFile) : settingsPath) {
    m_config.load(m_settingsPath);  // a missing file leaves the defaults in force
}

DemoHandler::~DemoHandler() = default;

void DemoHandler::reload() {
    m_config.reload(m_settingsPath);
}

bool DemoHandler::save() {
    if (m_config.save(m_settingsPath)) {
        return true;
    }
    // A full or failing flash must not go unnoticed, even where the web client is told 0.
    say("save settings failed\n");
    return false;
}

void DemoHandler::notify(int code) {
    m_sender.sendMediaCode(code);
}

void DemoHandler::handleUpload(const std::string& name, const std::string& filePath) {
    enc::handleUpload(name, filePath, m_config, m_settingsPath, [this](int code) { notify(code); });
}

void DemoHandler::handleRtspInfo(const std::string& user, const std::string& password) {
    say("in Main handleRtspInfo\n");
    m_config.author = user;
    m_config.pwd = password;
    save();
}

// ---- network and Wi-Fi ----

int DemoHandler::getNetwork(NetworkSettings& out) {
    reload();
    std::string name;
    getActiveInterface(name);
    if (name == "eth0") {
        NetworkSettings& n = m_config.network;
        getInterfaceMac(name, n.mac);
        n.ip = ipv4Text(getInterfaceAddress(name));
        n.mask = ipv4Text(getInterfaceNetmask(name));
        n.gate = ipv4Text(getDefaultGateway());
    }
    const std::string resolver = board::path("/etc/resolv.conf");
    const uint32_t first = getNameServer(resolver, 0);
    const uint32_t second = getNameServer(resolver, 1);
    m_config.network.dnsFirst = first == kNoAddress ? std::string() : ipv4Text(first);
    m_config.network.dnsSecond = second == kNoAddress ? std::string() : ipv4Text(second);
    out = m_config.network;
    return 0;
}

int DemoHandler::setNetwork(const NetworkSettings& in, std::string& response) {
    if (SettingsCheck::refused(SettingsCheck::network(in), response)) {
        return -1;
    }
    m_config.network = in;
    save();
    // The boot scripts pick the interface by this file before the settings are read.
    writeNetModeFile(in.connectionType);
    board::syncStorage();
    return 0;
}

int DemoHandler::getWifiParam(WifiSettings& out) {
    reload();
    const int associated = wifiAssociation();
    if (associated < 0) {
        return -1;
    }
    m_config.wifi.state = associated;
    say("%s, %d\n", "getWifiParam", __LINE__);
    std::string name;
    getActiveInterface(name);
    if (name == "wlan0") {
        getInterfaceMac(name, m_config.network.mac);
        m_config.wifi.ip = ipv4Text(getInterfaceAddress(name));
        m_config.wifi.mask = ipv4Text(getInterfaceNetmask(name));
        m_config.wifi.gate = ipv4Text(getDefaultGateway());
    }
    out = m_config.wifi;
    return 0;
}

int DemoHandler::setWifiParam(const WifiSettings& in, std::string& response) {
    say("essid.length:%d, essid : %s\n", static_cast<int>(in.essid.size()), in.essid.c_str());
    if (SettingsCheck::refused(SettingsCheck::wifi(in), response)) {
        return -1;
    }
    m_config.wifi = in;
    save();
    writeWifiClientFile(m_config.wifi);
    board::syncStorage();
    return 0;
}

// The switches are read from the file by peerlo and the web server themselves; a lock
// that did not reach the file must not be reported as set.
int DemoHandler::getSecurity(SecuritySettings& out) {
    reload();
    out = m_config.security;
    return 0;
}

int DemoHandler::setSecurity(const SecuritySettings& in, std::string& response) {
    if (SettingsCheck::refused(SettingsCheck::security(in), response)) {
        return -1;
    }
    m_config.security = in;
    const bool saved = save();
    board::syncStorage();
    return saved ? 0 : -1;
}

// ---- encoder, publishing, overlays, picture, audio, output ----

int DemoHandler::getVideo(int index, VideoSettings& out) {
    if (!validIndex(index)) {
        return -1;
    }
    reload();
    out = m_config.video[index];
    return 0;
}

int DemoHandler::setVideo(int index, const VideoSettings& in, std::string& /*response*/) {
    if (!validIndex(index)) {
        return -1;
    }
    VideoSettings v = in;
    const int inputFps = m_media.systemStatus().inputFps;
    say("input_infor.m_in_fps:%d\n", inputFps);
    applyLimits(v, videoLimits(index, inputFps));
    // The encoder rejects a lower limit above the upper one; meet at the upper limit.
    if (v.minQp > v.maxQp) {
        v.minQp = v.maxQp;
    }
    say("Encode index:%d\n", index);
    m_config.video[index] = v;
    save();
    notify(index == 0 ? kCodeMainVideo : kCodeSubVideo);
    board::syncStorage();
    return 0;
}

int DemoHandler::getProtocol(int index, ProtocolSettings& out) {
    if (!validIndex(index)) {
        return -1;
    }
    const std::string address = LiveStatus::deviceAddress();
    reload();
    m_config.protocol[index].tsHttpAddr = address;
    out = m_config.protocol[index];
    return 0;
}

int DemoHandler::setProtocol(int index, const ProtocolSettings& in, std::string& /*response*/) {
    if (!validIndex(index)) {
        return -1;
    }
    ProtocolSettings p = in;
    applyLimits(p, protocolLimits(index));
    m_config.protocol[index] = p;
    m_config.streamStatus[index].ts = p.tsAddr;
    save();
    say("protocal index:%d, OPER_GUI_SetSystem_Sub_Live:0x%04x\n", index, kCodeSubProtocol);
    notify(index == 0 ? kCodeMainProtocol : kCodeSubProtocol);
    board::syncStorage();
    return 0;
}

int DemoHandler::getSrt(int index, SrtSettings& out) {
    if (!validIndex(index)) {
        return -1;
    }
    reload();
    out = m_config.srt[index];
    return 0;
}

int DemoHandler::setSrt(int index, const SrtSettings& in, std::string& response) {
    if (!validIndex(index)) {
        return -1;
    }
    if (SettingsCheck::refused(SettingsCheck::srt(in), response)) {
        return -1;
    }
    m_config.srt[index] = in;
    const bool saved = save();
    board::syncStorage();
    if (!saved) {
        return -1;  // the media process reads the file: nothing new to tell it
    }
    say("SRT index:%d, enabled:%d, mode:%s\n", index, in.enabled, in.mode.c_str());
    notify(index == 0 ? kCodeMainProtocol : kCodeSubProtocol);
    return 0;
}

int DemoHandler::getOsd(int index, OsdSettings& first, OsdSettings& second) {
    if (!validIndex(index)) {
        return -1;
    }
    reload();
    first = m_config.osd[index][0];
    second = m_config.osd[index][1];
    return 0;
}

int DemoHandler::setOsd(int index, const OsdSettings& first, const OsdSettings& second,
                        std::string& /*response*/) {
    if (!validIndex(index)) {
        return -1;
    }
    OsdSettings a = first;
    applyLimits(a, overlayLimits(0));
    OsdSettings b = second;
    applyLimits(b, overlayLimits(1));
    m_config.osd[index][0] = a;
    m_config.osd[index][1] = b;
    save();
    say("OSD index:%d\n", index);
    notify(index == 0 ? kCodeMainOverlay : kCodeSubOverlay);
    board::syncStorage();
    return 0;
}

int DemoHandler::getChroma(int index, ChromaSettings& out) {
    reload();
    out = m_config.chroma[index == 0 ? 0 : 1];
    return 0;
}

int DemoHandler::setChroma(int index, const ChromaSettings& in, std::string& /*response*/) {
    m_config.chroma[index == 0 ? 0 : 1] = in;
    save();
    notify(index == 0 ? kCodeMainChroma : kCodeSubChroma);
    board::syncStorage();
    return 0;
}

int DemoHandler::getAudio(AudioSettings& out) {
    reload();
    out = m_config.audio;
    return 0;
}

int DemoHandler::setAudio(const AudioSettings& in, std::string& /*response*/) {
    m_config.audio = in;
    save();
    notify(kCodeAudioChanged);
    say("change andio format\n");
    board::syncStorage();
    return 0;
}

int DemoHandler::setOutput(const OutputSettings& in, std::string& /*response*/) {
    m_config.output = in;
    save();
    notify(kCodeOutputChanged);
    say("set av output\n");
    board::syncStorage();
    return 0;
}

int DemoHandler::getLogo(int index, LogoSettings& out) {
    if (!validIndex(index)) {
        return -1;
    }
    reload();
    out = m_config.logo[index];
    return 0;
}

int DemoHandler::setLogo(int index, const LogoSettings& in, std::string& /*response*/) {
    if (!validIndex(index)) {
        return -1;
    }
    m_config.logo[index] = in;
    save();
    notify(index == 0 ? kCodeMainOverlay : kCodeSubOverlay);
    board::syncStorage();
    return 0;
}

// ---- system: serial bridge, servers, storage, miscellaneous, LTE, time ----

int DemoHandler::getRs485(Rs485Settings& out) {
    reload();
    out = m_config.rs485;
    return 0;
}

int DemoHandler::setRs485(const Rs485Settings& in, std::string& /*response*/) {
    m_config.rs485 = in;
    save();
    board::syncStorage();
    // The serial bridge reads its settings only at boot.
    board::reboot();
    return 0;
}

int DemoHandler::getHttpSet(UpgradeServerSettings& out) {
    reload();
    out = m_config.upgradeServer;
    return 0;
}

int DemoHandler::setHttpSet(const UpgradeServerSettings& in, std::string& /*response*/) {
    say("change HttpServer parameter\n");
    m_config.upgradeServer = in;
    save();
    board::syncStorage();
    return 0;
}

int DemoHandler::getFtpServer(FtpSettings& out) {
    reload();
    out = m_config.ftp;
    return 0;
}

int DemoHandler::setFtpServer(const FtpSettings& in, std::string& /*response*/) {
    FtpSettings f = in;
    applyLimits(f, clockLimits());
    say("change ftp parameter\n");
    m_config.ftp = f;
    save();
    board::syncStorage();
    return 0;
}

int DemoHandler::setSysInfo(const SysInfo& in, std::string& /*response*/) {
    SysInfo& s = m_config.sysInfo;
    s.serverIP = in.serverIP;
    s.path = in.path;
    s.place = in.place;
    s.show = in.show;
    s.opacity = in.opacity;
    save();
    notify(kCodeAudioChanged);
    board::syncStorage();
    return 0;
}

int DemoHandler::getIrcutConf(IrcutSettings& out) {
    reload();  // the record is not in the file, so the reload leaves it alone
    out = m_config.ircut;
    return 0;
}

int DemoHandler::setIrcutConf(const IrcutSettings& in, std::string& /*response*/) {
    m_config.ircut = in;
    applyLimits(m_config.ircut, ircutLimits());
    return save() ? 0 : -1;
}

int DemoHandler::setLte(const LteStatus& in, std::string& /*response*/) {
    m_config.lte = in;
    return 0;
}

int DemoHandler::getTime(TimeSettings& out) {
    return enc::getLocalTime(out);
}

// ---- device actions ----

int DemoHandler::resetFactory(std::string& /*response*/) {
    resetToFactory();
    return 0;
}

int DemoHandler::reboot(std::string& /*response*/) {
    say("need reboot now\n");
    board::reboot();
    return 0;
}

int DemoHandler::handleUpdate(const std::string& uploadedFilePath, std::string& /*response*/) {
    return enc::handleUpdate(uploadedFilePath);
}

int DemoHandler::httpUpgrade(const UpgradeServerSettings& in, std::string& /*response*/) {
    return enc::httpUpgrade(in);
}

int DemoHandler::httpDetect(UpgradeServerSettings& inOut) {
    return enc::httpDetect(inOut);
}

int DemoHandler::getUpdateStatus(std::string& response) {
    return enc::getUpdateStatus(response);
}

int DemoHandler::setTime(const TimeSettings& in, std::string& /*response*/) {
    return enc::setManualTime(in);
}

// ---- live status ----

int DemoHandler::getInputStatus(int index, InputStatus& out) {
    m_config.input = m_status.input(index, m_config.input, m_config.audio);
    out = m_config.input;
    return 0;
}

int DemoHandler::getStreamStatus(int index, StreamStatus& out) {
    if (!validIndex(index)) {
        return -1;
    }
    m_status.stream(index, m_config.video[index], m_config.audio, m_config.protocol[0],
                    m_config.protocol[index], out);
    return 0;
}

int DemoHandler::getStreamUrl(int index, StreamUrl& out) {
    if (!validIndex(index)) {
        return -1;
    }
    reload();
    const std::string address = LiveStatus::deviceAddress();
    out = StatusReport::streamUrl(m_config.protocol[index], m_config.video[index], address);
    StatusReport::srtAddress(m_config.srt[index], address, out);
    return 0;
}

int DemoHandler::getSysInfo(SysInfo& out) {
    reload();
    out = m_status.sysInfo(m_config.sysInfo);
    return 0;
}

int DemoHandler::reloadSysInfo(SysInfo& out) {
    return getSysInfo(out);
}

int DemoHandler::getStreamFormat(StreamFormat& out) {
    out = m_status.streamFormat(m_config.protocol[0].rtspName, m_config.protocol[1].rtspName);
    return 0;
}

int DemoHandler::getOutput(OutputSettings& out) {
    out = StatusReport::output(m_config.output);
    return 0;
}

int DemoHandler::getLte(LteStatus& out) {
    m_config.lte = m_status.lte(m_config.lte);
    out = m_config.lte;
    return 0;
}
