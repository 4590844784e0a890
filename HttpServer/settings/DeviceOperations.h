#pragma once

#include <string>

#include "EncoderRecords.h"

namespace enc {

/// What the device offers the web API, in terms of the settings records. The API dispatcher
/// (api/EncoderHttpHandler) calls it; the device handler (device/DemoHandler) implements it.
/// It lives with the records so that neither side has to include the other.
///
/// Every operation returns 0 for success and -1 for failure. Operations that take an index
/// accept 0 (main stream) and 1 (sub stream). A write operation may replace `response`,
/// which the dispatcher presets to "{}". All calls arrive on the web server's side, one at
/// a time.
class DeviceOperations {
public:
    virtual ~DeviceOperations() = default;

    virtual int getInputStatus(int index, InputStatus& out) = 0;
    virtual int getStreamStatus(int index, StreamStatus& out) = 0;
    virtual int getStreamUrl(int index, StreamUrl& out) = 0;
    virtual int getNetwork(NetworkSettings& out) = 0;
    virtual int setNetwork(const NetworkSettings& in, std::string& response) = 0;
    virtual int getWifiParam(WifiSettings& out) = 0;
    virtual int setWifiParam(const WifiSettings& in, std::string& response) = 0;
    virtual int getVideo(int index, VideoSettings& out) = 0;
    virtual int setVideo(int index, const VideoSettings& in, std::string& response) = 0;
    virtual int getProtocol(int index, ProtocolSettings& out) = 0;
    virtual int setProtocol(int index, const ProtocolSettings& in, std::string& response) = 0;
    virtual int getOsd(int index, OsdSettings& first, OsdSettings& second) = 0;
    virtual int setOsd(int index, const OsdSettings& first, const OsdSettings& second,
                       std::string& response) = 0;
    virtual int getChroma(int index, ChromaSettings& out) = 0;
    virtual int setChroma(int index, const ChromaSettings& in, std::string& response) = 0;
    virtual int getAudio(AudioSettings& out) = 0;
    virtual int setAudio(const AudioSettings& in, std::string& response) = 0;
    virtual int getSysInfo(SysInfo& out) = 0;
    virtual int getStreamFormat(StreamFormat& out) = 0;
    virtual int getOutput(OutputSettings& out) = 0;
    virtual int setOutput(const OutputSettings& in, std::string& response) = 0;
    virtual int handleUpdate(const std::string& uploadedFilePath, std::string& response) = 0;
    virtual int httpUpgrade(const UpgradeServerSettings& in, std::string& response) = 0;
    virtual int httpDetect(UpgradeServerSettings& inOut) = 0;
    virtual int getUpdateStatus(std::string& response) = 0;
    virtual int resetFactory(std::string& response) = 0;
    virtual int reboot(std::string& response) = 0;
    virtual int getLte(LteStatus& out) = 0;
    virtual int setLte(const LteStatus& in, std::string& response) = 0;
    virtual int getRs485(Rs485Settings& out) = 0;
    virtual int setRs485(const Rs485Settings& in, std::string& response) = 0;
    virtual int getTime(TimeSettings& out) = 0;
    virtual int setTime(const TimeSettings& in, std::string& response) = 0;
    virtual int getLogo(int index, LogoSettings& out) = 0;
    virtual int setLogo(int index, const LogoSettings& in, std::string& response) = 0;
    virtual int getHttpSet(UpgradeServerSettings& out) = 0;
    virtual int setHttpSet(const UpgradeServerSettings& in, std::string& response) = 0;
    virtual int getFtpServer(FtpSettings& out) = 0;
    virtual int setFtpServer(const FtpSettings& in, std::string& response) = 0;
    virtual int reloadSysInfo(SysInfo& out) = 0;
    virtual int setSysInfo(const SysInfo& in, std::string& response) = 0;
    virtual int getIrcutConf(IrcutSettings& out) = 0;
    virtual int setIrcutConf(const IrcutSettings& in, std::string& response) = 0;
    /// The security switches ("/api/security"). A device without them answers -1.
    virtual int getSecurity(SecuritySettings& /*out*/) { return -1; }
    virtual int setSecurity(const SecuritySettings& /*in*/, std::string& /*response*/) {
        return -1;
    }
    /// A stream's SRT output ("/api/srt"). out carries the stored passphrase: the dispatcher
    /// never answers it. setSrt receives the whole record (the dispatcher has merged the
    /// request into the stored one), refuses a bad value with an error document in response
    /// and stores nothing then. A device without SRT answers -1.
    virtual int getSrt(int /*index*/, SrtSettings& /*out*/) { return -1; }
    virtual int setSrt(int /*index*/, const SrtSettings& /*in*/, std::string& /*response*/) {
        return -1;
    }

    /// The health of stream index's outputs as a JSON document ("/api/outputs-status"). A
    /// device without it answers -1.
    virtual int getOutputsStatus(int /*index*/, std::string& /*json*/) { return -1; }

    /// A file was uploaded and stored at filePath; name is the form field name of the part.
    virtual void handleUpload(const std::string& name, const std::string& filePath) = 0;
    /// The web credentials were changed through "/sys/password".
    virtual void handleRtspInfo(const std::string& user, const std::string& password) = 0;
};

}  // namespace enc
