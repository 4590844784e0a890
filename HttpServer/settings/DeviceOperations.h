#pragma once

#include <string>

#include "ApiResult.h"
#include "DocumentHost.h"
#include "EncoderRecords.h"

namespace enc {

/// What the device offers the web API beyond its plain settings documents, which the
/// dispatcher reads and writes through DocumentHost by their descriptors: the live status, the
/// documents with board work of their own (network, Wi-Fi, serial bridge, security, time, LTE)
/// and the actions (upgrade, reboot, reset, uploads). The API dispatcher
/// (api/EncoderHttpHandler) calls it; the device handler (device/DemoHandler) implements it.
/// It lives with the records so that neither side has to include the other.
///
/// Every operation returns kApiOk for success and kApiFailed for failure. Operations that take an
/// index accept 0 (main stream) and 1 (sub stream). A write operation may replace `response`, which
/// the dispatcher presets to "{}". All calls arrive on the web server's side, one at a time.
class DeviceOperations : public DocumentHost {
public:
    // Live status.
    virtual ApiResult getInputStatus(int index, InputStatus& out) = 0;
    virtual ApiResult getStreamStatus(int index, StreamStatus& out) = 0;
    virtual ApiResult getStreamUrl(int index, StreamUrl& out) = 0;
    virtual ApiResult getSysInfo(SysInfo& out) = 0;
    virtual ApiResult getStreamFormat(StreamFormat& out) = 0;
    virtual ApiResult getOutput(OutputSettings& out) = 0;
    /// The stored protocol document with the device's own address as tsHttpAddr.
    virtual ApiResult getProtocol(int index, ProtocolSettings& out) = 0;
    /// The health of stream index's outputs as a JSON document ("/api/outputs-status"). A
    /// device without it answers kApiFailed.
    virtual ApiResult getOutputsStatus(int /*index*/, std::string& /*json*/) { return kApiFailed; }

    // Documents with board work of their own.
    virtual ApiResult getNetwork(NetworkSettings& out) = 0;
    virtual ApiResult setNetwork(const NetworkSettings& in, std::string& response) = 0;
    virtual ApiResult getWifiParam(WifiSettings& out) = 0;
    virtual ApiResult setWifiParam(const WifiSettings& in, std::string& response) = 0;
    virtual ApiResult setRs485(const Rs485Settings& in, std::string& response) = 0;
    virtual ApiResult getLte(LteStatus& out) = 0;
    virtual ApiResult setLte(const LteStatus& in, std::string& response) = 0;
    virtual ApiResult getTime(TimeSettings& out) = 0;
    virtual ApiResult setTime(const TimeSettings& in, std::string& response) = 0;
    /// The security switches ("/api/security"). A device without them answers kApiFailed.
    virtual ApiResult getSecurity(SecuritySettings& /*out*/) { return kApiFailed; }
    virtual ApiResult setSecurity(const SecuritySettings& /*in*/, std::string& /*response*/) {
        return kApiFailed;
    }

    // Actions.
    virtual ApiResult handleUpdate(const std::string& uploadedFilePath, std::string& response) = 0;
    virtual ApiResult httpUpgrade(const UpgradeServerSettings& in, std::string& response) = 0;
    virtual ApiResult httpDetect(UpgradeServerSettings& inOut) = 0;
    virtual ApiResult getUpdateStatus(std::string& response) = 0;
    virtual ApiResult resetFactory(std::string& response) = 0;
    virtual ApiResult reboot(std::string& response) = 0;
    /// A file was uploaded and stored at filePath; name is the form field name of the part.
    virtual void handleUpload(const std::string& name, const std::string& filePath) = 0;
    /// The web credentials were changed through "/sys/password".
    virtual void handleRtspInfo(const std::string& user, const std::string& password) = 0;
};

}  // namespace enc
