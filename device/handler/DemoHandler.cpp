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

bool DemoHandler::store(std::initializer_list<const void*> owned,
                        const std::function<void()>& change) {
    std::string error;
    if (m_config.update(m_settingsPath, owned, change, &error)) {
        return true;
    }
    // A full or failing flash must not go unnoticed, even where the web client is told 0.
    say("save settings failed\n");
    say("%s\n", error.c_str());
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
    store({&m_config}, [&] {
        m_config.author = user;
        m_config.pwd = password;
    });
}

// ---- network and Wi-Fi ----

// The live values go to the answer only: they must never reach the settings file.
int DemoHandler::getNetwork(NetworkSettings& out) {
    reload();
    out = m_config.network;
    std::string name;
    getActiveInterface(name);
    if (name == "eth0") {
        NetworkSettings& n = out;
        getInterfaceMac(name, n.mac);
        n.ip = ipv4Text(getInterfaceAddress(name));
        n.mask = ipv4Text(getInterfaceNetmask(name));
        n.gate = ipv4Text(getDefaultGateway());
    }
    const std::string resolver = board::path("/etc/resolv.conf");
    const uint32_t first = getNameServer(resolver, 0);
    const uint32_t second = getNameServer(resolver, 1);
    out.dnsFirst = first == kNoAddress ? std::string() : ipv4Text(first);
    out.dnsSecond = second == kNoAddress ? std::string() : ipv4Text(second);
    return 0;
}

int DemoHandler::setNetwork(const NetworkSettings& in, std::string& response) {
    if (SettingsCheck::refused(SettingsCheck::network(in), response)) {
        return -1;
    }
    if (!store({&m_config.network}, [&] { m_config.network = in; })) {
        return -1;
    }
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
    out = m_config.wifi;
    out.state = associated;
    say("%s, %d\n", "getWifiParam", __LINE__);
    std::string name;
    getActiveInterface(name);
    if (name == "wlan0") {
        out.ip = ipv4Text(getInterfaceAddress(name));
        out.mask = ipv4Text(getInterfaceNetmask(name));
        out.gate = ipv4Text(getDefaultGateway());
    }
    return 0;
}

int DemoHandler::setWifiParam(const WifiSettings& in, std::string& response) {
    say("essid.length:%d, essid : %s\n", static_cast<int>(in.essid.size()), in.essid.c_str());
    if (SettingsCheck::refused(SettingsCheck::wifi(in), response)) {
        return -1;
    }
    if (!store({&m_config.wifi}, [&] { m_config.wifi = in; })) {
        return -1;
    }
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
    const bool saved = store({&m_config.security}, [&] { m_config.security = in; });
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
    if (!store({&m_config.video[index]}, [&] { m_config.video[index] = v; })) {
        return -1;
    }
    notify(index == 0 ? kCodeMainVideo : kCodeSubVideo);
    return 0;
}

int DemoHandler::getProtocol(int index, ProtocolSettings& out) {
    if (!validIndex(index)) {
        return -1;
    }
    const std::string address = LiveStatus::deviceAddress();
    reload();
    out = m_config.protocol[index];
    out.tsHttpAddr = address;
    return 0;
}

int DemoHandler::setProtocol(int index, const ProtocolSettings& in, std::string& /*response*/) {
    if (!validIndex(index)) {
        return -1;
    }
    ProtocolSettings p = in;
    applyLimits(p, protocolLimits(index));
    const bool saved = store({&m_config.protocol[index], &m_config.streamStatus[index]}, [&] {
        m_config.protocol[index] = p;
        m_config.streamStatus[index].ts = p.tsAddr;
    });
    if (!saved) {
        return -1;
    }
    say("protocal index:%d, OPER_GUI_SetSystem_Sub_Live:0x%04x\n", index, kCodeSubProtocol);
    notify(index == 0 ? kCodeMainProtocol : kCodeSubProtocol);
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
    const bool saved = store({&m_config.srt[index]}, [&] { m_config.srt[index] = in; });
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
    const bool saved = store({&m_config.osd[index][0], &m_config.osd[index][1]}, [&] {
        m_config.osd[index][0] = a;
        m_config.osd[index][1] = b;
    });
    if (!saved) {
        return -1;
    }
    say("OSD index:%d\n", index);
    notify(index == 0 ? kCodeMainOverlay : kCodeSubOverlay);
    return 0;
}

int DemoHandler::getChroma(int index, ChromaSettings& out) {
    reload();
    out = m_config.chroma[index == 0 ? 0 : 1];
    return 0;
}

int DemoHandler::setChroma(int index, const ChromaSettings& in, std::string& /*response*/) {
    ChromaSettings& chroma = m_config.chroma[index == 0 ? 0 : 1];
    if (!store({&chroma}, [&] { chroma = in; })) {
        return -1;
    }
    notify(index == 0 ? kCodeMainChroma : kCodeSubChroma);
    return 0;
}

int DemoHandler::getAudio(AudioSettings& out) {
    reload();
    out = m_config.audio;
    return 0;
}

int DemoHandler::setAudio(const AudioSettings& in, std::string& /*response*/) {
    if (!store({&m_config.audio}, [&] { m_config.audio = in; })) {
        return -1;
    }
    notify(kCodeAudioChanged);
    say("change andio format\n");
    return 0;
}

int DemoHandler::setOutput(const OutputSettings& in, std::string& /*response*/) {
    if (!store({&m_config.output}, [&] { m_config.output = in; })) {
        return -1;
    }
    notify(kCodeOutputChanged);
    say("set av output\n");
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
    if (!store({&m_config.logo[index]}, [&] { m_config.logo[index] = in; })) {
        return -1;
    }
    notify(index == 0 ? kCodeMainOverlay : kCodeSubOverlay);
    return 0;
}

// ---- system: serial bridge, servers, storage, miscellaneous, LTE, time ----

int DemoHandler::getRs485(Rs485Settings& out) {
    reload();
    out = m_config.rs485;
    return 0;
}

int DemoHandler::setRs485(const Rs485Settings& in, std::string& /*response*/) {
    if (!store({&m_config.rs485}, [&] { m_config.rs485 = in; })) {
        return -1;
    }
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
    if (!store({&m_config.upgradeServer}, [&] { m_config.upgradeServer = in; })) {
        return -1;
    }
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
    if (!store({&m_config.ftp}, [&] { m_config.ftp = f; })) {
        return -1;
    }
    return 0;
}

int DemoHandler::setSysInfo(const SysInfo& in, std::string& /*response*/) {
    SysInfo& s = m_config.sysInfo;
    const bool saved = store({&s}, [&] {
        s.serverIP = in.serverIP;
        s.path = in.path;
        s.place = in.place;
        s.show = in.show;
        s.opacity = in.opacity;
    });
    if (!saved) {
        return -1;
    }
    notify(kCodeAudioChanged);
    return 0;
}

int DemoHandler::getIrcutConf(IrcutSettings& out) {
    reload();  // the record is not in the file, so the reload leaves it alone
    out = m_config.ircut;
    return 0;
}

int DemoHandler::setIrcutConf(const IrcutSettings& in, std::string& /*response*/) {
    // Not in the file: the save only writes back what the file holds.
    m_config.ircut = in;
    applyLimits(m_config.ircut, ircutLimits());
    return store({}, [] {}) ? 0 : -1;
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
    m_status.rtspServed(index, m_config.protocol[index], out);
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
