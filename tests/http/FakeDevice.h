#pragma once
// A device handler for the dispatcher and server tests: every operation notes its call
// ("getVideo 1", "setNetwork"), read operations answer the stored records and write
// operations store what they receive. All operations return `result`.

#include <climits>
#include <mutex>
#include <string>
#include <vector>

#include "EncoderHttpHandler.h"

namespace httptest {

class FakeDevice : public enc::EncoderHttpHandler {
public:
    static constexpr int kNoIndex = INT_MIN;  // operations without a stream index
    int result = 0;
    std::string writeResponse;  // when set, write operations answer it

    enc::InputStatus input;
    enc::StreamStatus streamStatus;
    enc::StreamUrl streamUrl;
    enc::NetworkSettings network;
    enc::WifiSettings wifi;
    enc::VideoSettings video;
    enc::ProtocolSettings protocol;
    enc::OsdSettings osdFirst;
    enc::OsdSettings osdSecond;
    enc::ChromaSettings chroma;
    enc::AudioSettings audio;
    enc::SysInfo sysInfo;
    enc::StreamFormat streamFormat;
    enc::OutputSettings output;
    enc::UpgradeServerSettings upgrade;
    enc::LteStatus lte;
    enc::Rs485Settings rs485;
    enc::TimeSettings time;
    enc::LogoSettings logo;
    enc::FtpSettings ftp;
    enc::IrcutSettings ircut;
    std::string updatePath;
    std::vector<std::pair<std::string, std::string>> uploads;
    std::vector<std::pair<std::string, std::string>> credentials;

    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

    int getInputStatus(int i, enc::InputStatus& o) override {
        return get("getInputStatus", i, input, o);
    }
    int getStreamStatus(int i, enc::StreamStatus& o) override {
        return get("getStreamStatus", i, streamStatus, o);
    }
    int getStreamUrl(int i, enc::StreamUrl& o) override {
        return get("getStreamUrl", i, streamUrl, o);
    }
    int getNetwork(enc::NetworkSettings& o) override {
        return get("getNetwork", kNoIndex, network, o);
    }
    int setNetwork(const enc::NetworkSettings& in, std::string& r) override {
        return set("setNetwork", kNoIndex, network, in, r);
    }
    int getWifiParam(enc::WifiSettings& o) override {
        return get("getWifiParam", kNoIndex, wifi, o);
    }
    int setWifiParam(const enc::WifiSettings& in, std::string& r) override {
        return set("setWifiParam", kNoIndex, wifi, in, r);
    }
    int getVideo(int i, enc::VideoSettings& o) override { return get("getVideo", i, video, o); }
    int setVideo(int i, const enc::VideoSettings& in, std::string& r) override {
        return set("setVideo", i, video, in, r);
    }
    int getProtocol(int i, enc::ProtocolSettings& o) override {
        return get("getProtocol", i, protocol, o);
    }
    int setProtocol(int i, const enc::ProtocolSettings& in, std::string& r) override {
        return set("setProtocol", i, protocol, in, r);
    }
    int getOsd(int i, enc::OsdSettings& a, enc::OsdSettings& b) override {
        b = osdSecond;
        return get("getOsd", i, osdFirst, a);
    }
    int setOsd(int i, const enc::OsdSettings& a, const enc::OsdSettings& b,
               std::string& r) override {
        osdSecond = b;
        return set("setOsd", i, osdFirst, a, r);
    }
    int getChroma(int i, enc::ChromaSettings& o) override { return get("getChroma", i, chroma, o); }
    int setChroma(int i, const enc::ChromaSettings& in, std::string& r) override {
        return set("setChroma", i, chroma, in, r);
    }
    int getAudio(enc::AudioSettings& o) override { return get("getAudio", kNoIndex, audio, o); }
    int setAudio(const enc::AudioSettings& in, std::string& r) override {
        return set("setAudio", kNoIndex, audio, in, r);
    }
    int getSysInfo(enc::SysInfo& o) override { return get("getSysInfo", kNoIndex, sysInfo, o); }
    int getStreamFormat(enc::StreamFormat& o) override {
        return get("getStreamFormat", kNoIndex, streamFormat, o);
    }
    int getOutput(enc::OutputSettings& o) override { return get("getOutput", kNoIndex, output, o); }
    int setOutput(const enc::OutputSettings& in, std::string& r) override {
        return set("setOutput", kNoIndex, output, in, r);
    }
    int handleUpdate(const std::string& path, std::string& r) override {
        updatePath = path;
        return note("handleUpdate", kNoIndex, r);
    }
    int httpUpgrade(const enc::UpgradeServerSettings& in, std::string& r) override {
        return set("httpUpgrade", kNoIndex, upgrade, in, r);
    }
    int httpDetect(enc::UpgradeServerSettings& io) override {
        io.version = "9.9";
        std::string unused;
        return note("httpDetect " + io.serverIP, kNoIndex, unused);
    }
    int getUpdateStatus(std::string& r) override { return note("getUpdateStatus", kNoIndex, r); }
    int resetFactory(std::string& r) override { return note("resetFactory", kNoIndex, r); }
    int reboot(std::string& r) override { return note("reboot", kNoIndex, r); }
    int getLte(enc::LteStatus& o) override { return get("getLte", kNoIndex, lte, o); }
    int setLte(const enc::LteStatus& in, std::string& r) override {
        return set("setLte", kNoIndex, lte, in, r);
    }
    int getRs485(enc::Rs485Settings& o) override { return get("getRs485", kNoIndex, rs485, o); }
    int setRs485(const enc::Rs485Settings& in, std::string& r) override {
        return set("setRs485", kNoIndex, rs485, in, r);
    }
    int getTime(enc::TimeSettings& o) override { return get("getTime", kNoIndex, time, o); }
    int setTime(const enc::TimeSettings& in, std::string& r) override {
        return set("setTime", kNoIndex, time, in, r);
    }
    int getLogo(int i, enc::LogoSettings& o) override { return get("getLogo", i, logo, o); }
    int setLogo(int i, const enc::LogoSettings& in, std::string& r) override {
        return set("setLogo", i, logo, in, r);
    }
    int getHttpSet(enc::UpgradeServerSettings& o) override {
        return get("getHttpSet", kNoIndex, upgrade, o);
    }
    int setHttpSet(const enc::UpgradeServerSettings& in, std::string& r) override {
        return set("setHttpSet", kNoIndex, upgrade, in, r);
    }
    int getFtpServer(enc::FtpSettings& o) override { return get("getFtpServer", kNoIndex, ftp, o); }
    int setFtpServer(const enc::FtpSettings& in, std::string& r) override {
        return set("setFtpServer", kNoIndex, ftp, in, r);
    }
    int reloadSysInfo(enc::SysInfo& o) override {
        return get("reloadSysInfo", kNoIndex, sysInfo, o);
    }
    int setSysInfo(const enc::SysInfo& in, std::string& r) override {
        return set("setSysInfo", kNoIndex, sysInfo, in, r);
    }
    int getIrcutConf(enc::IrcutSettings& o) override {
        return get("getIrcutConf", kNoIndex, ircut, o);
    }
    int setIrcutConf(const enc::IrcutSettings& in, std::string& r) override {
        return set("setIrcutConf", kNoIndex, ircut, in, r);
    }

    void handleUpload(const std::string& name, const std::string& path) override {
        EncoderHttpHandler::handleUpload(name, path);
        std::lock_guard<std::mutex> lock(m_mutex);
        uploads.emplace_back(name, path);
    }
    void handleRtspInfo(const std::string& user, const std::string& password) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        credentials.emplace_back(user, password);
    }

private:
    int note(const std::string& what, int index, std::string& response) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(index != kNoIndex ? what + " " + std::to_string(index) : what);
        if (!writeResponse.empty()) {
            response = writeResponse;
        }
        return result;
    }
    template <class R>
    int get(const char* what, int index, const R& stored, R& out) {
        std::string unused;
        out = stored;
        return note(what, index, unused);
    }
    template <class R>
    int set(const char* what, int index, R& stored, const R& in, std::string& response) {
        stored = in;
        return note(what, index, response);
    }

    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
};

}  // namespace httptest
