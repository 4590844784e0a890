#include "DemoHandler.h"

#include "Console.h"
#include "FactoryReset.h"
#include "Ipv4.h"
#include "LteState.h"
#include "MediaLink.h"
#include "MediaMessage.h"
#include "MediaState.h"
#include "MetricsToken.h"
#include "NetModeFile.h"
#include "NetQuery.h"
#include "OutputsReport.h"
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

EncoderConfigFile& DemoHandler::currentSettings() {
    m_config.reload(m_settingsPath);
    return m_config;
}

bool DemoHandler::store(const std::vector<const void*>& owned,
                        const std::function<void()>& change) {
    std::string error;
    if (m_config.update(m_settingsPath, owned, change, &error)) {
        return true;
    }
    // A full or failing flash must not go unnoticed.
    say("save settings failed\n");
    say("%s\n", error.c_str());
    return false;
}

void DemoHandler::notify(int code) {
    m_sender.sendMediaCode(code);
}

int DemoHandler::inputFps() {
    const int fps = m_media.systemStatus().inputFps;
    say("input_infor.m_in_fps:%d\n", fps);
    return fps;
}

void DemoHandler::syncStorage() {
    board::syncStorage();
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

// ---- settings with board work of their own ----

// The live values go to the answer only: they must never reach the settings file.
ApiResult DemoHandler::getNetwork(NetworkSettings& out) {
    currentSettings();
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
    return kApiOk;
}

ApiResult DemoHandler::setNetwork(const NetworkSettings& in, std::string& response) {
    // The boot scripts pick the interface by this file before the settings are read.
    return writeDocument(0, &in, response, [&] { writeNetModeFile(in.connectionType); });
}

ApiResult DemoHandler::getWifiParam(WifiSettings& out) {
    currentSettings();
    const int associated = wifiAssociation();
    if (associated < 0) {
        return kApiFailed;
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
    return kApiOk;
}

ApiResult DemoHandler::setWifiParam(const WifiSettings& in, std::string& response) {
    say("essid.length:%d, essid : %s\n", static_cast<int>(in.essid.size()), in.essid.c_str());
    return writeDocument(0, &in, response, [&] { writeWifiClientFile(m_config.wifi); });
}

ApiResult DemoHandler::setRs485(const Rs485Settings& in, std::string& response) {
    const ApiResult result = writeDocument(0, &in, response);
    if (result == kApiOk) {
        board::reboot();  // the serial bridge reads its settings only at boot
    }
    return result;
}

ApiResult DemoHandler::getProtocol(int index, ProtocolSettings& out) {
    const std::string address = LiveStatus::deviceAddress();
    const ApiResult result = readDocument(index, &out);
    out.tsHttpAddr = address;
    return result;
}

ApiResult DemoHandler::setLte(const LteStatus& in, std::string& /*response*/) {
    m_config.lte = in;  // the monitor's state is in memory only
    return kApiOk;
}

ApiResult DemoHandler::getTime(TimeSettings& out) {
    return apiResult(enc::getLocalTime(out) == 0);
}

ApiResult DemoHandler::setTime(const TimeSettings& in, std::string& /*response*/) {
    return apiResult(enc::setManualTime(in) == 0);
}

ApiResult DemoHandler::getSecurity(SecuritySettings& out) {
    const ApiResult result = readDocument(0, &out);
    out.metricsTokenSet = metricsToken().isSet() ? 1 : 0;
    return result;
}
// The metrics token lives in its own 0600 file, never in the settings file nor in memory;
// it is stored once the rest of the document is.
ApiResult DemoHandler::setSecurity(const SecuritySettings& in, std::string& response) {
    if (!in.metricsToken.empty() &&
        SettingsCheck::refused(MetricsToken::refused(in.metricsToken), response)) {
        return kApiFailed;
    }
    SecuritySettings stored = in;
    stored.metricsToken.clear();
    const ApiResult result = writeDocument(0, &stored, response);
    if (result != kApiOk || in.metricsToken.empty()) {
        return result;
    }
    return apiResult(metricsToken().store(in.metricsToken));
}

// ---- device actions ----

ApiResult DemoHandler::resetFactory(std::string& /*response*/) {
    resetToFactory();
    return kApiOk;
}

ApiResult DemoHandler::reboot(std::string& /*response*/) {
    say("need reboot now\n");
    board::reboot();
    return kApiOk;
}

ApiResult DemoHandler::handleUpdate(const std::string& uploadedFilePath,
                                    std::string& /*response*/) {
    return apiResult(enc::handleUpdate(uploadedFilePath) == 0);
}

ApiResult DemoHandler::httpUpgrade(const UpgradeServerSettings& in, std::string& /*response*/) {
    return apiResult(enc::httpUpgrade(in) == 0);
}

ApiResult DemoHandler::httpDetect(UpgradeServerSettings& inOut) {
    return apiResult(enc::httpDetect(inOut) == 0);
}

ApiResult DemoHandler::getUpdateStatus(std::string& response) {
    return apiResult(enc::getUpdateStatus(response) == 0);
}

// ---- live status ----

ApiResult DemoHandler::getInputStatus(int index, InputStatus& out) {
    m_config.input = m_status.input(index, m_config.input, m_config.audio);
    out = m_config.input;
    return kApiOk;
}

ApiResult DemoHandler::getStreamStatus(int index, StreamStatus& out) {
    if (!validIndex(index)) {
        return kApiFailed;
    }
    m_status.stream(index, m_config.video[index], m_config.audio, m_config.protocol[0],
                    m_config.protocol[index], out);
    return kApiOk;
}

MetricsToken DemoHandler::metricsToken() const {
    const size_t slash = m_settingsPath.rfind('/');
    return MetricsToken(
        (slash == std::string::npos ? std::string(".") : m_settingsPath.substr(0, slash)) + "/" +
        MetricsToken::kFileName);
}

ApiResult DemoHandler::getOutputsStatus(int index, std::string& json) {
    if (!validIndex(index)) {
        return kApiFailed;
    }
    json = OutputsReport::json(index, m_media.outputs().snapshot(index, MediaState::nowMs()));
    return kApiOk;
}

ApiResult DemoHandler::getStreamUrl(int index, StreamUrl& out) {
    if (!validIndex(index)) {
        return kApiFailed;
    }
    currentSettings();
    const std::string address = LiveStatus::deviceAddress();
    out = StatusReport::streamUrl(m_config.protocol[index], m_config.video[index], address);
    m_status.rtspServed(index, m_config.protocol[index], out);
    StatusReport::srtAddress(m_config.srt[index], address, out);
    return kApiOk;
}

ApiResult DemoHandler::getSysInfo(SysInfo& out) {
    currentSettings();
    out = m_status.sysInfo(m_config.sysInfo);
    return kApiOk;
}

ApiResult DemoHandler::getStreamFormat(StreamFormat& out) {
    out = m_status.streamFormat(m_config.protocol[0].rtspName, m_config.protocol[1].rtspName);
    return kApiOk;
}

ApiResult DemoHandler::getOutput(OutputSettings& out) {
    out = StatusReport::output(m_config.output);
    return kApiOk;
}

ApiResult DemoHandler::getLte(LteStatus& out) {
    m_config.lte = m_status.lte(m_config.lte);
    out = m_config.lte;
    return kApiOk;
}
