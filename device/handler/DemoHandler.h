#pragma once

#include <functional>
#include <string>
#include <vector>

#include "DeviceOperations.h"
#include "EncoderConfigFile.h"
#include "LiveStatus.h"
#include "MetricsToken.h"

namespace enc {
class LteState;
class MediaSender;
class MediaState;
}  // namespace enc

/// The device handler behind the web API: reads and writes the settings file, applies a few
/// settings to the board (network mode file, Wi-Fi client file, reboot, factory reset),
/// tells the media process which group of settings changed, and forms the live status
/// texts from the media process's records, the LTE monitor's state and the board. Uploads,
/// remote upgrades and the clock are handed to the device core (Uploads.h,
/// RemoteUpgrade.h, TimeKeeping.h).
///
/// Every getter of stored settings reloads the settings file first (EncoderConfigFile::reload:
/// read again only when it changed); values a getter takes from live state go to its answer
/// only. Every setter changes the keys of its own document in the file as it is now, under
/// the settings file's lock (EncoderConfigFile::update), durable when the save returns (the
/// file and its folder are synced), and sends its change code (where it has one); only the
/// setters that also write the board's own files (network, Wi-Fi, serial bridge) run
/// "/bin/sync" after. A failed save is printed as "save settings failed" and answers -1
/// everywhere (nothing is sent to the media process then). Stream-indexed operations accept index 0
/// (main) and 1 (sub) and answer -1 without effect for any other; the chroma pair takes 0
/// as main and anything else as sub.
///
/// Thread rules: all operations run on the HTTP worker, one at a time. The media state is
/// read as whole record copies, so the main loop may replace records meanwhile; the LTE
/// state likewise, so the monitor thread may update it meanwhile.
class DemoHandler : public enc::DeviceOperations {
public:
    /// Board path of the settings file.
    static constexpr const char* kSettingsFile = "/mnt/config/encoder.ini";

    /// Uses the process-wide media link, media state and LTE state.
    DemoHandler();
    /// Sends change codes to sender, reads status records from media and the modem's state
    /// from lte (nullptr: the process-wide LTE state); all must outlive the handler.
    /// settingsPath is a real path ("" for the board's settings file).
    DemoHandler(enc::MediaSender& sender, const enc::MediaState& media,
                const std::string& settingsPath = std::string(),
                const enc::LteState* lte = nullptr);
    ~DemoHandler() override;

    /// The settings as last loaded or changed (the program entry reads the time and network
    /// settings at start-up).
    const enc::EncoderConfigFile& settings() const { return m_config; }
    const std::string& settingsPath() const { return m_settingsPath; }

    /// Hands the file to enc::handleUpload: a picture is copied to its place, a firmware image
    /// written to flash (code 100 to the media process first, "/sbin/reboot" after). Blocks the web
    /// server for the write.
    void handleUpload(const std::string& name, const std::string& filePath) override;
    void handleRtspInfo(const std::string& user, const std::string& password) override;

    // DocumentHost: the settings file at settingsPath, the media link, the board.
    enc::EncoderConfigFile& currentSettings() override;
    /// A failure is printed as "save settings failed" with its reason.
    bool store(const std::vector<const void*>& owned, const std::function<void()>& change) override;
    void notify(int changeCode) override;
    int inputFps() override;
    void syncStorage() override;

    ApiResult getInputStatus(int index, enc::InputStatus& out) override;
    ApiResult getStreamStatus(int index, enc::StreamStatus& out) override;
    ApiResult getStreamUrl(int index, enc::StreamUrl& out) override;
    ApiResult getSysInfo(enc::SysInfo& out) override;
    ApiResult getStreamFormat(enc::StreamFormat& out) override;
    ApiResult getOutput(enc::OutputSettings& out) override;
    ApiResult getProtocol(int index, enc::ProtocolSettings& out) override;
    /// OutputsReport::json of the stream's last outputs status; kApiFailed for an index other
    /// than 0 or 1.
    ApiResult getOutputsStatus(int index, std::string& json) override;
    ApiResult getNetwork(enc::NetworkSettings& out) override;
    ApiResult setNetwork(const enc::NetworkSettings& in, std::string& response) override;
    ApiResult getWifiParam(enc::WifiSettings& out) override;
    ApiResult setWifiParam(const enc::WifiSettings& in, std::string& response) override;
    ApiResult setRs485(const enc::Rs485Settings& in, std::string& response) override;
    ApiResult getLte(enc::LteStatus& out) override;
    ApiResult setLte(const enc::LteStatus& in, std::string& response) override;
    ApiResult getTime(enc::TimeSettings& out) override;
    ApiResult setTime(const enc::TimeSettings& in, std::string& response) override;
    /// Answers -1 when the file could not be saved (the switches act only from the file).
    ApiResult getSecurity(enc::SecuritySettings& out) override;
    ApiResult setSecurity(const enc::SecuritySettings& in, std::string& response) override;
    ApiResult handleUpdate(const std::string& uploadedFilePath, std::string& response) override;
    ApiResult httpUpgrade(const enc::UpgradeServerSettings& in, std::string& response) override;
    ApiResult httpDetect(enc::UpgradeServerSettings& inOut) override;
    ApiResult getUpdateStatus(std::string& response) override;
    ApiResult resetFactory(std::string& response) override;
    ApiResult reboot(std::string& response) override;
    /// The token file of "/metrics": MetricsToken::kFileName beside the settings file. Any
    /// thread.
    enc::MetricsToken metricsToken() const;

private:
    enc::MediaSender& m_sender;
    const enc::MediaState& m_media;
    enc::LiveStatus m_status;
    std::string m_settingsPath;
    enc::EncoderConfigFile m_config;
};
