#include "DemoHandler.h"

#include <sys/sysinfo.h>
#include <unistd.h>

#include <cstdio>

#include "LteState.h"
#include "MediaLink.h"
#include "MediaMessage.h"
#include "MediaState.h"
#include "NetQuery.h"
#include "RemoteUpgrade.h"
#include "StatusReport.h"
#include "TimeKeeping.h"
#include "Uploads.h"
#include "WifiClientFile.h"
#include "board/Board.h"
#include "board/Command.h"

using namespace enc;

namespace {

// Clamp limits of the encoder and overlay settings: values outside them become the
// replacement the media process has always been given.
constexpr int kMinFramerate = 15;
constexpr int kSubMaxFramerate = 30;
constexpr int kDefaultFramerate = 30;
// The main stream may follow the input up to 2 fps above its measured rate.
constexpr int kInputFpsTolerance = 2;
constexpr int kMinGop = 2;
constexpr int kMaxGop = 200;
constexpr int kDefaultGop = 30;
constexpr int kMinBitrate = 256;
constexpr int kMaxBitrate = 12000;
constexpr int kMainDefaultBitrate = 2500;
constexpr int kSubDefaultBitrate = 1000;
// H.264/H.265 quantiser range the encoder accepts.
constexpr int kMinQp = 12;
constexpr int kMaxQp = 51;
constexpr int kDefaultMaxQp = 40;
constexpr int kMaxPort = 65535;
constexpr int kMaxOverlayFontSize = 7;
constexpr int kMaxOverlayOpacity = 128;
constexpr int kDefaultOverlayOpacity = 5;
constexpr int kMinTimeZone = -12;
constexpr int kMaxTimeZone = 11;
constexpr int kDefaultTimeZone = 8;
constexpr int kMaxSyncHours = 24;
constexpr int kDefaultSyncHours = 1;
// Position reports more often than this would flood the media process.
constexpr int kMinGpsInterval = 20;

constexpr const char* kHardVersion = "HD 2.1 ";

bool validIndex(int index) {
    return index == 0 || index == 1;
}

bool within(int value, int low, int high) {
    return value >= low && value <= high;
}

void keepOr(int& value, int low, int high, int replacement) {
    if (!within(value, low, high)) {
        value = replacement;
    }
}

void printLine(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
}

}  // namespace

DemoHandler::DemoHandler() : DemoHandler(MediaLink::instance(), MediaState::instance()) {}

DemoHandler::DemoHandler(MediaSender& sender, const MediaState& media,
                         const std::string& settingsPath, const LteState* lte)
    : m_sender(sender),
      m_media(media),
      m_lte(lte != nullptr ? *lte : LteState::instance()),
      m_settingsPath(settingsPath.empty() ? board::path(kSettingsFile) : settingsPath) {
    m_config.load(m_settingsPath);  // a missing file leaves the defaults in force
}

DemoHandler::~DemoHandler() = default;

void DemoHandler::reload() {
    m_config.load(m_settingsPath);
}

bool DemoHandler::save() {
    if (m_config.save(m_settingsPath)) {
        return true;
    }
    // A full or failing flash must not go unnoticed, even where the web client is told 0.
    printLine("save settings failed");
    return false;
}

void DemoHandler::notify(int code) {
    m_sender.sendMediaCode(code);
}

void DemoHandler::syncStorage() {
    board::syncStorage();
}

std::string DemoHandler::deviceAddress() {
    std::string name;
    getActiveInterface(name);
    return ipv4Text(getInterfaceAddress(name));
}

void DemoHandler::handleUpload(const std::string& name, const std::string& filePath) {
    enc::handleUpload(name, filePath, m_config, m_settingsPath, [this](int code) { notify(code); });
}

void DemoHandler::handleRtspInfo(const std::string& user, const std::string& password) {
    printLine("in Main handleRtspInfo");
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

int DemoHandler::setNetwork(const NetworkSettings& in, std::string& /*response*/) {
    if (!isValidIpv4(in.ip) || !isValidIpv4(in.mask) || !isValidIpv4(in.gate) ||
        !isValidIpv4(in.dnsFirst)) {
        return -1;
    }
    m_config.network = in;
    save();
    // The boot scripts pick the interface by this file before the settings are read.
    if (within(in.connectionType, 0, 2)) {
        FILE* file = std::fopen(board::path("/mnt/config/net_mode.ini").c_str(), "w");
        if (file != nullptr) {
            std::fprintf(file, "%d", in.connectionType);
            std::fclose(file);
        } else {
            std::perror("/mnt/config/net_mode.ini");
        }
    }
    syncStorage();
    return 0;
}

int DemoHandler::getWifiParam(WifiSettings& out) {
    reload();
    std::string output;
    board::RunOptions options;
    options.capture = &output;
    if (board::run({"iwconfig", "wlan0"}, options) == -1) {
        printLine("can not open");
        return -1;
    }
    const std::string firstLine = output.substr(0, output.find('\n'));
    // No answer at all (no Wi-Fi tool or interface) is no association either.
    if (firstLine.empty() || firstLine.find("unassociated") != std::string::npos) {
        printLine("no connected");
        m_config.wifi.state = 0;
    } else {
        printLine("already connect an AP");
        m_config.wifi.state = 1;
    }
    std::printf("%s, %d\n", "getWifiParam", __LINE__);
    std::string name;
    getActiveInterface(name);
    if (name == "wlan0") {
        getInterfaceMac(name, m_config.network.mac);
        m_config.wifi.ip = ipv4Text(getInterfaceAddress(name));
        m_config.wifi.mask = ipv4Text(getInterfaceNetmask(name));
        m_config.wifi.gate = ipv4Text(getDefaultGateway());
    }
    std::fflush(stdout);
    out = m_config.wifi;
    return 0;
}

int DemoHandler::setWifiParam(const WifiSettings& in, std::string& /*response*/) {
    std::printf("essid.length:%d, essid : %s\n", static_cast<int>(in.essid.size()),
                in.essid.c_str());
    std::fflush(stdout);
    if (in.essid.empty()) {
        return -1;
    }
    m_config.wifi = in;
    save();
    writeWifiClientFile(m_config.wifi);
    syncStorage();
    return 0;
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
    std::printf("input_infor.m_in_fps:%d\n", inputFps);
    const int maxFramerate = index == 0 ? inputFps + kInputFpsTolerance : kSubMaxFramerate;
    keepOr(v.framerate, kMinFramerate, maxFramerate, kDefaultFramerate);
    keepOr(v.gop, kMinGop, kMaxGop, kDefaultGop);
    keepOr(v.bitrate, kMinBitrate, kMaxBitrate,
           index == 0 ? kMainDefaultBitrate : kSubDefaultBitrate);
    keepOr(v.minQp, kMinQp, kMaxQp, kMinQp);
    keepOr(v.maxQp, kMinQp, kMaxQp, kDefaultMaxQp);
    // The encoder rejects a lower limit above the upper one; meet at the upper limit.
    if (v.minQp > v.maxQp) {
        v.minQp = v.maxQp;
    }
    std::printf("Encode index:%d\n", index);
    std::fflush(stdout);
    m_config.video[index] = v;
    save();
    notify(index == 0 ? kCodeMainVideo : kCodeSubVideo);
    syncStorage();
    return 0;
}

int DemoHandler::getProtocol(int index, ProtocolSettings& out) {
    if (!validIndex(index)) {
        return -1;
    }
    const std::string address = deviceAddress();
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
    const bool main = index == 0;
    keepOr(p.httpPort, 1, kMaxPort, 80);
    keepOr(p.rtspPort, 1, kMaxPort, 554);
    keepOr(p.multicastPort, 1, kMaxPort, 5000);
    keepOr(p.rtmpPort, 1, kMaxPort, 1935);
    keepOr(p.tsPort, 1, kMaxPort, main ? 20000 : 20001);
    keepOr(p.tsHttpPort, 1, kMaxPort, main ? 8081 : 8082);
    m_config.protocol[index] = p;
    m_config.streamStatus[index].ts = p.tsAddr;
    save();
    std::printf("protocal index:%d, OPER_GUI_SetSystem_Sub_Live:0x%04x\n", index, kCodeSubProtocol);
    std::fflush(stdout);
    notify(main ? kCodeMainProtocol : kCodeSubProtocol);
    syncStorage();
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
    keepOr(a.x, 0, 1920, 10);
    keepOr(a.y, 0, 1080, 10);
    keepOr(a.fontSize, 1, kMaxOverlayFontSize, 2);
    keepOr(a.opacity, 0, kMaxOverlayOpacity, kDefaultOverlayOpacity);
    OsdSettings b = second;
    keepOr(b.x, 0, 8192, 10);
    keepOr(b.y, 0, 8192, 500);
    keepOr(b.fontSize, 1, kMaxOverlayFontSize, 1);
    keepOr(b.opacity, 0, kMaxOverlayOpacity, kDefaultOverlayOpacity);
    m_config.osd[index][0] = a;
    m_config.osd[index][1] = b;
    save();
    std::printf("OSD index:%d\n", index);
    std::fflush(stdout);
    notify(index == 0 ? kCodeMainOverlay : kCodeSubOverlay);
    syncStorage();
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
    syncStorage();
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
    printLine("change andio format");
    syncStorage();
    return 0;
}

int DemoHandler::setOutput(const OutputSettings& in, std::string& /*response*/) {
    m_config.output = in;
    save();
    notify(kCodeOutputChanged);
    printLine("set av output");
    syncStorage();
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
    syncStorage();
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
    syncStorage();
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
    printLine("change HttpServer parameter");
    m_config.upgradeServer = in;
    save();
    syncStorage();
    return 0;
}

int DemoHandler::getFtpServer(FtpSettings& out) {
    reload();
    out = m_config.ftp;
    return 0;
}

int DemoHandler::setFtpServer(const FtpSettings& in, std::string& /*response*/) {
    FtpSettings f = in;
    keepOr(f.localtimezone, kMinTimeZone, kMaxTimeZone, kDefaultTimeZone);
    keepOr(f.ftptime, 0, kMaxSyncHours, kDefaultSyncHours);
    printLine("change ftp parameter");
    m_config.ftp = f;
    save();
    syncStorage();
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
    syncStorage();
    return 0;
}

int DemoHandler::getIrcutConf(IrcutSettings& out) {
    reload();  // the record is not in the file, so the reload leaves it alone
    out = m_config.ircut;
    return 0;
}

int DemoHandler::setIrcutConf(const IrcutSettings& in, std::string& /*response*/) {
    m_config.ircut = in;
    if (m_config.ircut.gpsInterval < kMinGpsInterval) {
        m_config.ircut.gpsInterval = kMinGpsInterval;
    }
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
    printLine("restore to factory mode.");
    ::unlink(board::path("/customer/encoder.ini").c_str());
    ::unlink(board::path("/customer/active_sim").c_str());
    board::syncStorage(board::SyncSpelling::Bare);
    board::reboot();
    return 0;
}

int DemoHandler::reboot(std::string& /*response*/) {
    printLine("need reboot now");
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
    InputStatus status = m_config.input;
    if (!StatusReport::readMediaStateFile(board::path("/tmp/media_state"), status)) {
        status = StatusReport::inputStatus(index, m_media.inputSignal(), m_media.audioInput(),
                                           m_media.systemStatus(), m_config.audio);
    }
    m_config.input = status;
    out = status;
    return 0;
}

int DemoHandler::getStreamStatus(int index, StreamStatus& out) {
    if (!validIndex(index)) {
        return -1;
    }
    const std::string address = deviceAddress();
    out.video = StatusReport::streamVideoText(index, m_config.video[index], m_media.systemStatus(),
                                              m_media.inputSignal());
    out.audio = StatusReport::streamAudioText(m_config.audio, m_config.protocol[0]);
    StatusReport::streamAddresses(m_config.protocol[index], address, out);
    return 0;
}

int DemoHandler::getStreamUrl(int index, StreamUrl& out) {
    if (!validIndex(index)) {
        return -1;
    }
    reload();
    out = StatusReport::streamUrl(m_config.protocol[index], m_config.video[index], deviceAddress());
    return 0;
}

int DemoHandler::getSysInfo(SysInfo& out) {
    reload();
    out = m_config.sysInfo;
    out.devSeq = StatusReport::firstWord(board::path("/tmp/uid.txt"));
    out.softVersion = StatusReport::softVersion(board::path("/etc/fs-version"));
    out.hardVersion = kHardVersion;
    struct sysinfo info {};
    out.uptime = StatusReport::uptimeText(::sysinfo(&info) == 0 ? info.uptime : 0);
    return 0;
}

int DemoHandler::reloadSysInfo(SysInfo& out) {
    return getSysInfo(out);
}

int DemoHandler::getStreamFormat(StreamFormat& out) {
    out = StatusReport::streamFormat(m_media.activeStream(), m_config.protocol[0].rtspName,
                                     m_config.protocol[1].rtspName);
    return 0;
}

int DemoHandler::getOutput(OutputSettings& out) {
    out = StatusReport::output(m_config.output);
    return 0;
}

int DemoHandler::getLte(LteStatus& out) {
    const LteSnapshot modem = m_lte.snapshot();  // one whole copy, never half updated
    LteStatus& lte = m_config.lte;
    lte.state = modem.simReady;
    lte.server = modem.operatorName;
    lte.signal = modem.signal;
    lte.iccid = modem.iccid;
    lte.ip = ipv4Text(getInterfaceAddress("ppp0"));
    lte.gate = ipv4Text(getDefaultGateway());
    lte.mask = "255.255.255.255";
    lte.esimActive = ::access(board::path("/mnt/config/active_sim").c_str(), F_OK) == 0 ? 1 : 0;
    out = lte;
    return 0;
}
