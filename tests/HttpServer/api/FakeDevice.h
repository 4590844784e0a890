#pragma once
// A device handler for the dispatcher and server tests: every operation notes its call
// ("getVideo 1", "setNetwork"), read operations answer the stored records and write
// operations store what they receive. All operations return `result`.

#include <climits>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceOperations.h"
#include "EncoderHttpHandler.h"

namespace httptest {

// One read and one write operation over a stored record, with or without a stream index.
#define FAKE_GET_SET(Get, Set, Record, field)                       \
    ApiResult Get(enc::Record& o) override {                        \
        return get(#Get, kNoIndex, field, o);                       \
    }                                                               \
    ApiResult Set(const enc::Record& in, std::string& r) override { \
        return set(#Set, kNoIndex, field, in, r);                   \
    }
#define FAKE_GET_SET_INDEXED(Get, Set, Record, field)                      \
    ApiResult Get(int i, enc::Record& o) override {                        \
        return get(#Get, i, field, o);                                     \
    }                                                                      \
    ApiResult Set(int i, const enc::Record& in, std::string& r) override { \
        return set(#Set, i, field, in, r);                                 \
    }

class FakeDevice : public enc::DeviceOperations {
public:
    enc::EncoderHttpHandler api{*this};  // the dispatcher under test, over this device

    static constexpr int kNoIndex = INT_MIN;  // operations without a stream index
    ApiResult result = kApiOk;
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

    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

    ApiResult getInputStatus(int i, enc::InputStatus& o) override {
        return get("getInputStatus", i, input, o);
    }
    ApiResult getStreamStatus(int i, enc::StreamStatus& o) override {
        return get("getStreamStatus", i, streamStatus, o);
    }
    ApiResult getStreamUrl(int i, enc::StreamUrl& o) override {
        return get("getStreamUrl", i, streamUrl, o);
    }
    FAKE_GET_SET(getNetwork, setNetwork, NetworkSettings, network)
    FAKE_GET_SET(getWifiParam, setWifiParam, WifiSettings, wifi)
    FAKE_GET_SET_INDEXED(getVideo, setVideo, VideoSettings, video)
    FAKE_GET_SET_INDEXED(getProtocol, setProtocol, ProtocolSettings, protocol)
    FAKE_GET_SET_INDEXED(getChroma, setChroma, ChromaSettings, chroma)
    FAKE_GET_SET_INDEXED(getLogo, setLogo, LogoSettings, logo)
    FAKE_GET_SET(getAudio, setAudio, AudioSettings, audio)
    FAKE_GET_SET(getOutput, setOutput, OutputSettings, output)
    FAKE_GET_SET(getLte, setLte, LteStatus, lte)
    FAKE_GET_SET(getRs485, setRs485, Rs485Settings, rs485)
    FAKE_GET_SET(getTime, setTime, TimeSettings, time)
    FAKE_GET_SET(getHttpSet, setHttpSet, UpgradeServerSettings, upgrade)
    FAKE_GET_SET(getFtpServer, setFtpServer, FtpSettings, ftp)
    FAKE_GET_SET(reloadSysInfo, setSysInfo, SysInfo, sysInfo)
    FAKE_GET_SET(getIrcutConf, setIrcutConf, IrcutSettings, ircut)
    ApiResult getOsd(int i, enc::OsdSettings& a, enc::OsdSettings& b) override {
        b = osdSecond;
        return get("getOsd", i, osdFirst, a);
    }
    ApiResult setOsd(int i, const enc::OsdSettings& a, const enc::OsdSettings& b,
                     std::string& r) override {
        osdSecond = b;
        return set("setOsd", i, osdFirst, a, r);
    }
    ApiResult getSysInfo(enc::SysInfo& o) override {
        return get("getSysInfo", kNoIndex, sysInfo, o);
    }
    ApiResult getStreamFormat(enc::StreamFormat& o) override {
        return get("getStreamFormat", kNoIndex, streamFormat, o);
    }
    ApiResult handleUpdate(const std::string& path, std::string& r) override {
        updatePath = path;
        return note("handleUpdate", kNoIndex, r);
    }
    ApiResult httpUpgrade(const enc::UpgradeServerSettings& in, std::string& r) override {
        return set("httpUpgrade", kNoIndex, upgrade, in, r);
    }
    ApiResult httpDetect(enc::UpgradeServerSettings& io) override {
        io.version = "9.9";
        std::string unused;
        return note("httpDetect " + io.serverIP, kNoIndex, unused);
    }
    ApiResult getUpdateStatus(std::string& r) override {
        return note("getUpdateStatus", kNoIndex, r);
    }
    ApiResult resetFactory(std::string& r) override { return note("resetFactory", kNoIndex, r); }
    ApiResult reboot(std::string& r) override { return note("reboot", kNoIndex, r); }
    void handleUpload(const std::string&, const std::string&) override {}
    void handleRtspInfo(const std::string&, const std::string&) override {}

private:
    ApiResult note(const std::string& what, int index, std::string& response) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(index != kNoIndex ? what + " " + std::to_string(index) : what);
        if (!writeResponse.empty()) {
            response = writeResponse;
        }
        return result;
    }
    template <class R>
    ApiResult get(const char* what, int index, const R& stored, R& out) {
        std::string unused;
        out = stored;
        return note(what, index, unused);
    }
    template <class R>
    ApiResult set(const char* what, int index, R& stored, const R& in, std::string& response) {
        stored = in;
        return note(what, index, response);
    }

    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
};

#undef FAKE_GET_SET
#undef FAKE_GET_SET_INDEXED

}  // namespace httptest
