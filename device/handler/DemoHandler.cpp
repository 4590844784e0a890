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

void DemoHandler::reload() {
    m_config.reload(m_settingsPath);
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

template <class R>
ApiResult DemoHandler::getDocument(int index, R* out) {
    const SetterSteps<R>& steps = documentOf<R>().set;
    const R* placed = steps.place(m_config, index);
    if (placed == nullptr) {
        return kApiFailed;
    }
    reload();
    std::copy(placed, placed + steps.count, out);
    return kApiOk;
}

template <class R>
ApiResult DemoHandler::setDocument(int index, const R* in, std::string& response,
                                   const std::function<void()>& boardWork) {
    const SetterSteps<R>& steps = documentOf<R>().set;
    R* const placed = steps.place(m_config, index);
    if (placed == nullptr) {
        return kApiFailed;
    }
    std::vector<R> records(in, in + steps.count);
    for (const R& record : records) {
        std::string reason = refusedValue(record);
        if (reason.empty() && steps.check != nullptr) {
            reason = steps.check(record);
        }
        if (SettingsCheck::refused(reason, response)) {
            return kApiFailed;
        }
    }
    int inputFps = 0;
    if (followsInput<R>()) {
        inputFps = m_media.systemStatus().inputFps;
        say("input_infor.m_in_fps:%d\n", inputFps);
    }
    for (size_t k = 0; k < records.size(); ++k) {
        applyLimits(records[k],
                    limitsOf<R>(clampInstance<R>(index, static_cast<int>(k)), inputFps));
        if (steps.adjust != nullptr) {
            steps.adjust(records[k]);
        }
    }
    if (steps.trace != nullptr) {
        say(steps.trace, index);
    }
    std::vector<const void*> owned;
    for (int k = 0; k < steps.count; ++k) {
        owned.push_back(placed + k);
    }
    if (steps.alsoWrites != nullptr) {
        owned.push_back(steps.alsoWrites(m_config, index));
    }
    const bool saved = store(owned, [&] {
        if (steps.store != nullptr) {
            steps.store(m_config, index, records.front());
        } else {
            std::copy(records.begin(), records.end(), placed);
        }
    });
    if (!saved) {
        return kApiFailed;  // the media process reads the file: nothing new to tell it
    }
    if (boardWork) {
        boardWork();
    }
    const int code = steps.changeCode[index == 0 ? 0 : 1];
    if (code != 0) {
        notify(code);
    }
    if (steps.sync) {
        board::syncStorage();
    }
    return kApiOk;
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
    return kApiOk;
}

ApiResult DemoHandler::setNetwork(const NetworkSettings& in, std::string& response) {
    // The boot scripts pick the interface by this file before the settings are read.
    return setDocument(0, &in, response, [&] { writeNetModeFile(in.connectionType); });
}

ApiResult DemoHandler::getWifiParam(WifiSettings& out) {
    reload();
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
    return setDocument(0, &in, response, [&] { writeWifiClientFile(m_config.wifi); });
}

ApiResult DemoHandler::setRs485(const Rs485Settings& in, std::string& response) {
    const ApiResult result = setDocument(0, &in, response);
    if (result == kApiOk) {
        board::reboot();  // the serial bridge reads its settings only at boot
    }
    return result;
}

ApiResult DemoHandler::setSrt(int index, const SrtSettings& in, std::string& response) {
    return setDocument(index, &in, response, [&] {
        say("SRT index:%d, enabled:%d, mode:%s\n", index, in.enabled, in.mode.c_str());
    });
}

ApiResult DemoHandler::getProtocol(int index, ProtocolSettings& out) {
    const std::string address = LiveStatus::deviceAddress();
    const ApiResult result = getDocument(index, &out);
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

// ---- plain settings: the document's own steps ----

ApiResult DemoHandler::getSecurity(SecuritySettings& out) {
    const ApiResult result = getDocument(0, &out);
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
    const ApiResult result = setDocument(0, &stored, response);
    if (result != kApiOk || in.metricsToken.empty()) {
        return result;
    }
    return apiResult(metricsToken().store(in.metricsToken));
}
ApiResult DemoHandler::getSrt(int index, SrtSettings& out) {
    return getDocument(index, &out);
}
ApiResult DemoHandler::getVideo(int index, VideoSettings& out) {
    return getDocument(index, &out);
}
ApiResult DemoHandler::setVideo(int index, const VideoSettings& in, std::string& response) {
    return setDocument(index, &in, response);
}
ApiResult DemoHandler::setProtocol(int index, const ProtocolSettings& in, std::string& response) {
    return setDocument(index, &in, response);
}
ApiResult DemoHandler::getOsd(int index, OsdSettings& first, OsdSettings& second) {
    OsdSettings pair[2];
    const ApiResult result = getDocument(index, pair);
    first = pair[0];
    second = pair[1];
    return result;
}
ApiResult DemoHandler::setOsd(int index, const OsdSettings& first, const OsdSettings& second,
                              std::string& response) {
    const OsdSettings pair[2] = {first, second};
    return setDocument(index, pair, response);
}
ApiResult DemoHandler::getChroma(int index, ChromaSettings& out) {
    return getDocument(index, &out);
}
ApiResult DemoHandler::setChroma(int index, const ChromaSettings& in, std::string& response) {
    return setDocument(index, &in, response);
}
ApiResult DemoHandler::getAudio(AudioSettings& out) {
    return getDocument(0, &out);
}
ApiResult DemoHandler::setAudio(const AudioSettings& in, std::string& response) {
    return setDocument(0, &in, response);
}
ApiResult DemoHandler::setOutput(const OutputSettings& in, std::string& response) {
    return setDocument(0, &in, response);
}
ApiResult DemoHandler::getLogo(int index, LogoSettings& out) {
    return getDocument(index, &out);
}
ApiResult DemoHandler::setLogo(int index, const LogoSettings& in, std::string& response) {
    return setDocument(index, &in, response);
}
ApiResult DemoHandler::getRs485(Rs485Settings& out) {
    return getDocument(0, &out);
}
ApiResult DemoHandler::getHttpSet(UpgradeServerSettings& out) {
    return getDocument(0, &out);
}
ApiResult DemoHandler::setHttpSet(const UpgradeServerSettings& in, std::string& response) {
    return setDocument(0, &in, response);
}
ApiResult DemoHandler::getFtpServer(FtpSettings& out) {
    return getDocument(0, &out);
}
ApiResult DemoHandler::setFtpServer(const FtpSettings& in, std::string& response) {
    return setDocument(0, &in, response);
}
ApiResult DemoHandler::setSysInfo(const SysInfo& in, std::string& response) {
    return setDocument(0, &in, response);
}
// Not in the file: the reload leaves it alone, and the save writes back only what the file holds.
ApiResult DemoHandler::getIrcutConf(IrcutSettings& out) {
    return getDocument(0, &out);
}
ApiResult DemoHandler::setIrcutConf(const IrcutSettings& in, std::string& response) {
    return setDocument(0, &in, response);
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
    reload();
    const std::string address = LiveStatus::deviceAddress();
    out = StatusReport::streamUrl(m_config.protocol[index], m_config.video[index], address);
    m_status.rtspServed(index, m_config.protocol[index], out);
    StatusReport::srtAddress(m_config.srt[index], address, out);
    return kApiOk;
}

ApiResult DemoHandler::getSysInfo(SysInfo& out) {
    reload();
    out = m_status.sysInfo(m_config.sysInfo);
    return kApiOk;
}

ApiResult DemoHandler::reloadSysInfo(SysInfo& out) {
    return getSysInfo(out);
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
