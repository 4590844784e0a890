#pragma once

#include <string>

#include "ApiResult.h"
#include "EncoderRecords.h"

namespace enc {

/// What the device offers the web API, in terms of the settings records. The API dispatcher
/// (api/EncoderHttpHandler) calls it; the device handler (device/DemoHandler) implements it.
/// It lives with the records so that neither side has to include the other.
///
/// Every operation returns kApiOk for success and kApiFailed for failure. Operations that take an
/// index accept 0 (main stream) and 1 (sub stream). A write operation may replace `response`, which
/// the dispatcher presets to "{}". All calls arrive on the web server's side, one at a time.
class DeviceOperations {
public:
    virtual ~DeviceOperations() = default;

    virtual ApiResult getInputStatus(int index, InputStatus& out) = 0;
    virtual ApiResult getStreamStatus(int index, StreamStatus& out) = 0;
    virtual ApiResult getStreamUrl(int index, StreamUrl& out) = 0;
    virtual ApiResult getNetwork(NetworkSettings& out) = 0;
    virtual ApiResult setNetwork(const NetworkSettings& in, std::string& response) = 0;
    virtual ApiResult getWifiParam(WifiSettings& out) = 0;
    virtual ApiResult setWifiParam(const WifiSettings& in, std::string& response) = 0;
    virtual ApiResult getVideo(int index, VideoSettings& out) = 0;
    virtual ApiResult setVideo(int index, const VideoSettings& in, std::string& response) = 0;
    virtual ApiResult getProtocol(int index, ProtocolSettings& out) = 0;
    virtual ApiResult setProtocol(int index, const ProtocolSettings& in, std::string& response) = 0;
    virtual ApiResult getOsd(int index, OsdSettings& first, OsdSettings& second) = 0;
    virtual ApiResult setOsd(int index, const OsdSettings& first, const OsdSettings& second,
                             std::string& response) = 0;
    virtual ApiResult getChroma(int index, ChromaSettings& out) = 0;
    virtual ApiResult setChroma(int index, const ChromaSettings& in, std::string& response) = 0;
    virtual ApiResult getAudio(AudioSettings& out) = 0;
    virtual ApiResult setAudio(const AudioSettings& in, std::string& response) = 0;
    virtual ApiResult getSysInfo(SysInfo& out) = 0;
    virtual ApiResult getStreamFormat(StreamFormat& out) = 0;
    virtual ApiResult getOutput(OutputSettings& out) = 0;
    virtual ApiResult setOutput(const OutputSettings& in, std::string& response) = 0;
    virtual ApiResult handleUpdate(const std::string& uploadedFilePath, std::string& response) = 0;
    virtual ApiResult httpUpgrade(const UpgradeServerSettings& in, std::string& response) = 0;
    virtual ApiResult httpDetect(UpgradeServerSettings& inOut) = 0;
    virtual ApiResult getUpdateStatus(std::string& response) = 0;
    virtual ApiResult resetFactory(std::string& response) = 0;
    virtual ApiResult reboot(std::string& response) = 0;
    virtual ApiResult getLte(LteStatus& out) = 0;
    virtual ApiResult setLte(const LteStatus& in, std::string& response) = 0;
    virtual ApiResult getRs485(Rs485Settings& out) = 0;
    virtual ApiResult setRs485(const Rs485Settings& in, std::string& response) = 0;
    virtual ApiResult getTime(TimeSettings& out) = 0;
    virtual ApiResult setTime(const TimeSettings& in, std::string& response) = 0;
    virtual ApiResult getLogo(int index, LogoSettings& out) = 0;
    virtual ApiResult setLogo(int index, const LogoSettings& in, std::string& response) = 0;
    virtual ApiResult getHttpSet(UpgradeServerSettings& out) = 0;
    virtual ApiResult setHttpSet(const UpgradeServerSettings& in, std::string& response) = 0;
    virtual ApiResult getFtpServer(FtpSettings& out) = 0;
    virtual ApiResult setFtpServer(const FtpSettings& in, std::string& response) = 0;
    virtual ApiResult reloadSysInfo(SysInfo& out) = 0;
    virtual ApiResult setSysInfo(const SysInfo& in, std::string& response) = 0;
    virtual ApiResult getIrcutConf(IrcutSettings& out) = 0;
    virtual ApiResult setIrcutConf(const IrcutSettings& in, std::string& response) = 0;
    /// The security switches ("/api/security"). A device without them answers kApiFailed.
    virtual ApiResult getSecurity(SecuritySettings& /*out*/) { return kApiFailed; }
    virtual ApiResult setSecurity(const SecuritySettings& /*in*/, std::string& /*response*/) {
        return kApiFailed;
    }
    /// A stream's SRT output ("/api/srt"). out carries the stored passphrase: the dispatcher
    /// never answers it. setSrt receives the whole record (the dispatcher has merged the
    /// request into the stored one), refuses a bad value with an error document in response
    /// and stores nothing then. A device without SRT answers kApiFailed.
    virtual ApiResult getSrt(int /*index*/, SrtSettings& /*out*/) { return kApiFailed; }
    virtual ApiResult setSrt(int /*index*/, const SrtSettings& /*in*/, std::string& /*response*/) {
        return kApiFailed;
    }

    /// The health of stream index's outputs as a JSON document ("/api/outputs-status"). A
    /// device without it answers kApiFailed.
    virtual ApiResult getOutputsStatus(int /*index*/, std::string& /*json*/) { return kApiFailed; }

    /// A file was uploaded and stored at filePath; name is the form field name of the part.
    virtual void handleUpload(const std::string& name, const std::string& filePath) = 0;
    /// The web credentials were changed through "/sys/password".
    virtual void handleRtspInfo(const std::string& user, const std::string& password) = 0;
};

}  // namespace enc
