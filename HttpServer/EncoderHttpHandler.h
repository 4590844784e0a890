#pragma once

#include <string>
#include <string_view>

#include "EncoderRecords.h"
#include "HttpHandler.h"

namespace enc {

/// The "/api" dispatcher: selects the device operation by path and method, reads the stream
/// index from the query, decodes request bodies into fresh records and encodes the records
/// of read operations (JsonCast). The device operations are implemented by a subclass.
///
/// Every device operation returns 0 for success and -1 for failure; the dispatcher answers
/// 22 for a wrong method where a path distinguishes GET and POST. Operations that take an
/// index accept 0 (main stream) and 1 (sub stream).
class EncoderHttpHandler : public HttpHandler {
public:
    ~EncoderHttpHandler() override = default;

    int handleApi(std::string_view method, std::string_view apiPath, std::string_view queryString,
                  std::string_view body, std::string& response) override;
    /// Remembers the stored path of the last upload (see uploadedFilePath()).
    void handleUpload(const std::string& name, const std::string& filePath) override;

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

    /// Any other path: the response text becomes "unknown api"; -1.
    virtual int unknownApi(std::string_view apiPath, std::string_view queryString,
                           std::string_view body, std::string& response);

    /// The stored path of the last upload ("" before the first).
    const std::string& uploadedFilePath() const { return m_uploadedFilePath; }

private:
    std::string m_uploadedFilePath;
};

}  // namespace enc
