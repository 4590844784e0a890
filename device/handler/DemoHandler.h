#pragma once

#include <functional>
#include <initializer_list>
#include <string>

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

    int getInputStatus(int index, enc::InputStatus& out) override;
    int getStreamStatus(int index, enc::StreamStatus& out) override;
    int getStreamUrl(int index, enc::StreamUrl& out) override;
    int getNetwork(enc::NetworkSettings& out) override;
    int setNetwork(const enc::NetworkSettings& in, std::string& response) override;
    int getWifiParam(enc::WifiSettings& out) override;
    int setWifiParam(const enc::WifiSettings& in, std::string& response) override;
    int getVideo(int index, enc::VideoSettings& out) override;
    int setVideo(int index, const enc::VideoSettings& in, std::string& response) override;
    int getProtocol(int index, enc::ProtocolSettings& out) override;
    int setProtocol(int index, const enc::ProtocolSettings& in, std::string& response) override;
    int getOsd(int index, enc::OsdSettings& first, enc::OsdSettings& second) override;
    int setOsd(int index, const enc::OsdSettings& first, const enc::OsdSettings& second,
               std::string& response) override;
    int getChroma(int index, enc::ChromaSettings& out) override;
    int setChroma(int index, const enc::ChromaSettings& in, std::string& response) override;
    int getAudio(enc::AudioSettings& out) override;
    int setAudio(const enc::AudioSettings& in, std::string& response) override;
    int getSysInfo(enc::SysInfo& out) override;
    int getStreamFormat(enc::StreamFormat& out) override;
    int getOutput(enc::OutputSettings& out) override;
    int setOutput(const enc::OutputSettings& in, std::string& response) override;
    int handleUpdate(const std::string& uploadedFilePath, std::string& response) override;
    int httpUpgrade(const enc::UpgradeServerSettings& in, std::string& response) override;
    int httpDetect(enc::UpgradeServerSettings& inOut) override;
    int getUpdateStatus(std::string& response) override;
    int resetFactory(std::string& response) override;
    int reboot(std::string& response) override;
    int getLte(enc::LteStatus& out) override;
    int setLte(const enc::LteStatus& in, std::string& response) override;
    int getRs485(enc::Rs485Settings& out) override;
    int setRs485(const enc::Rs485Settings& in, std::string& response) override;
    int getTime(enc::TimeSettings& out) override;
    int setTime(const enc::TimeSettings& in, std::string& response) override;
    int getLogo(int index, enc::LogoSettings& out) override;
    int setLogo(int index, const enc::LogoSettings& in, std::string& response) override;
    int getHttpSet(enc::UpgradeServerSettings& out) override;
    int setHttpSet(const enc::UpgradeServerSettings& in, std::string& response) override;
    int getFtpServer(enc::FtpSettings& out) override;
    int setFtpServer(const enc::FtpSettings& in, std::string& response) override;
    int reloadSysInfo(enc::SysInfo& out) override;
    int setSysInfo(const enc::SysInfo& in, std::string& response) override;
    int getIrcutConf(enc::IrcutSettings& out) override;
    int setIrcutConf(const enc::IrcutSettings& in, std::string& response) override;
    /// Answers -1 when the file could not be saved (the switches act only from the file).
    int getSecurity(enc::SecuritySettings& out) override;
    int setSecurity(const enc::SecuritySettings& in, std::string& response) override;
    /// The SRT output of a stream: checked (SettingsCheck::srt), stored, then the stream's
    /// publishing change code (4709 main, 4710 sub) goes to the media process. Answers -1 when
    /// the file could not be saved (nothing is sent then). The passphrase is never printed.
    int getSrt(int index, enc::SrtSettings& out) override;
    /// OutputsReport::json of the stream's last outputs status; -1 for an index other than
    /// 0 or 1.
    int getOutputsStatus(int index, std::string& json) override;
    /// The token file of "/metrics": MetricsToken::kFileName beside the settings file. Any
    /// thread.
    enc::MetricsToken metricsToken() const;
    int setSrt(int index, const enc::SrtSettings& in, std::string& response) override;

private:
    void reload();
    /// Changes the keys of the owned records only (EncoderConfigFile::update); a failure is
    /// printed as "save settings failed" with its reason.
    bool store(std::initializer_list<const void*> owned, const std::function<void()>& change);
    void notify(int code);

    enc::MediaSender& m_sender;
    const enc::MediaState& m_media;
    enc::LiveStatus m_status;
    std::string m_settingsPath;
    enc::EncoderConfigFile m_config;
};
