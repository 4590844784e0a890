#pragma once
// A device handler for the dispatcher and server tests: every operation notes its call
// ("getStreamUrl 1", "setNetwork"), read operations answer the stored records and write
// operations store what they receive. All operations return `result`. The plain documents live
// in `config`, in memory: a save notes "store" (and fails unless result is kApiOk), a change
// code "notify", a read of the settings "settings".

#include <climits>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceOperations.h"
#include "EncoderHttpHandler.h"

namespace httptest {

// One read and one write operation over a stored record.
#define FAKE_GET_SET(Get, Set, Record, field)                       \
    ApiResult Get(enc::Record& o) override {                        \
        return get(#Get, kNoIndex, field, o);                       \
    }                                                               \
    ApiResult Set(const enc::Record& in, std::string& r) override { \
        return set(#Set, kNoIndex, field, in, r);                   \
    }
class FakeDevice : public enc::DeviceOperations {
public:
    enc::EncoderHttpHandler api{*this};  // the dispatcher under test, over this device

    static constexpr int kNoIndex = INT_MIN;  // operations without a stream index
    ApiResult result = kApiOk;
    std::string writeResponse;  // when set, write operations answer it

    enc::EncoderConfigFile config;  // the plain documents and the protocol document
    enc::InputStatus input;
    enc::StreamStatus streamStatus;
    enc::StreamUrl streamUrl;
    enc::NetworkSettings network;
    enc::WifiSettings wifi;
    enc::SysInfo sysInfo;
    enc::StreamFormat streamFormat;
    enc::OutputSettings output;
    enc::UpgradeServerSettings upgrade;
    enc::LteStatus lte;
    enc::Rs485Settings rs485;
    enc::TimeSettings time;
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
    FAKE_GET_SET(getLte, setLte, LteStatus, lte)
    FAKE_GET_SET(getTime, setTime, TimeSettings, time)
    ApiResult getProtocol(int i, enc::ProtocolSettings& o) override {
        return get("getProtocol", i, config.protocol[i == 0 ? 0 : 1], o);
    }
    ApiResult setRs485(const enc::Rs485Settings& in, std::string& r) override {
        return set("setRs485", kNoIndex, rs485, in, r);
    }
    ApiResult getOutput(enc::OutputSettings& o) override {
        return get("getOutput", kNoIndex, output, o);
    }
    ApiResult getSysInfo(enc::SysInfo& o) override {
        return get("getSysInfo", kNoIndex, sysInfo, o);
    }
    ApiResult getStreamFormat(enc::StreamFormat& o) override {
        return get("getStreamFormat", kNoIndex, streamFormat, o);
    }
    enc::EncoderConfigFile& currentSettings() override {
        std::string unused;
        note("settings", kNoIndex, unused);
        return config;
    }
    bool store(const std::vector<const void*>&, const std::function<void()>& change) override {
        std::string unused;
        if (note("store", kNoIndex, unused) != kApiOk) {
            return false;
        }
        change();
        return true;
    }
    void notify(int) override {
        std::string unused;
        note("notify", kNoIndex, unused);
    }
    int inputFps() override { return 30; }
    void syncStorage() override {
        std::string unused;
        note("sync", kNoIndex, unused);
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

}  // namespace httptest
