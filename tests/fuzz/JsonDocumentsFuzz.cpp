// libFuzzer target for every JSON document's decoder and for the "/api" dispatcher in front
// of them. Input: one byte choosing the document (and the dispatcher's path), the body.
// Invariants: a decoded record encodes to valid JSON (when not cut at the device's 1023
// characters), and the dispatcher never calls the device for a body it refuses.
#include <cJSON.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "EncoderHttpHandler.h"
#include "FuzzInput.h"
#include "JsonCast.h"
#include "JsonDepth.h"
#include "JsonFormat.h"
#include "JsonStringCheck.h"

namespace {

using namespace enc;

// Every operation succeeds and records that it was called; the plain documents live in memory.
class NullDevice : public DeviceOperations {
public:
    int calls = 0;
#define NULL_OP(sig)            \
    ApiResult sig override {    \
        return ++calls, kApiOk; \
    }
    NULL_OP(getInputStatus(int, InputStatus&))
    NULL_OP(getStreamStatus(int, StreamStatus&))
    NULL_OP(getStreamUrl(int, StreamUrl&))
    NULL_OP(getSysInfo(SysInfo&))
    NULL_OP(getStreamFormat(StreamFormat&))
    NULL_OP(getOutput(OutputSettings&))
    NULL_OP(getProtocol(int, ProtocolSettings&))
    NULL_OP(getNetwork(NetworkSettings&))
    NULL_OP(setNetwork(const NetworkSettings&, std::string&))
    NULL_OP(getWifiParam(WifiSettings&))
    NULL_OP(setWifiParam(const WifiSettings&, std::string&))
    NULL_OP(setRs485(const Rs485Settings&, std::string&))
    NULL_OP(getLte(LteStatus&))
    NULL_OP(setLte(const LteStatus&, std::string&))
    NULL_OP(getTime(TimeSettings&))
    NULL_OP(setTime(const TimeSettings&, std::string&))
    NULL_OP(getSecurity(SecuritySettings&))
    NULL_OP(setSecurity(const SecuritySettings&, std::string&))
    NULL_OP(handleUpdate(const std::string&, std::string&))
    NULL_OP(httpUpgrade(const UpgradeServerSettings&, std::string&))
    NULL_OP(httpDetect(UpgradeServerSettings&))
    NULL_OP(getUpdateStatus(std::string&))
    NULL_OP(resetFactory(std::string&))
    NULL_OP(reboot(std::string&))
#undef NULL_OP
    void handleUpload(const std::string&, const std::string&) override {}
    void handleRtspInfo(const std::string&, const std::string&) override {}
    // The plain documents, in memory.
    EncoderConfigFile& currentSettings() override {
        return ++calls, settings;
    }
    bool store(const std::vector<const void*>&, const std::function<void()>& change) override {
        ++calls;
        change();
        return true;
    }
    void notify(int) override {}
    int inputFps() override {
        return 30;
    }
    void syncStorage() override {}
    EncoderConfigFile settings;
};

void expectJson(const std::string& text) {
    if (text.size() >= JsonFormat::kMaxText) {
        return;  // cut where the device's buffer ends
    }
    cJSON* tree = cJSON_ParseWithLength(text.data(), text.size());
    if (tree == nullptr) {
        std::abort();
    }
    cJSON_Delete(tree);
}

template <class Record>
void roundTrip(std::string_view body) {
    Record record;
    JsonCast::fromJson(record, body);
    std::string text;
    JsonCast::toJson(record, text);
    expectJson(text);
}

using RoundTrip = void (*)(std::string_view);

const RoundTrip kDocuments[] = {
    roundTrip<NetworkSettings>,
    roundTrip<WifiSettings>,
    roundTrip<VideoSettings>,
    roundTrip<ProtocolSettings>,
    roundTrip<ChromaSettings>,
    roundTrip<AudioSettings>,
    roundTrip<SysInfo>,
    roundTrip<OutputSettings>,
    roundTrip<LteStatus>,
    roundTrip<Rs485Settings>,
    roundTrip<LogoSettings>,
    roundTrip<TimeSettings>,
    roundTrip<FtpSettings>,
    roundTrip<UpgradeServerSettings>,
    roundTrip<IrcutSettings>,
    roundTrip<SecuritySettings>,
    [](std::string_view body) {
        OsdSettings a;
        OsdSettings b;
        JsonCast::fromJson(a, b, body);
        std::string text;
        JsonCast::toJson(a, b, text);
        expectJson(text);
    },
    // Added after the seeds' documents, so that their first bytes keep choosing the same. The
    // SRT document never prints the passphrase it decoded.
    [](std::string_view body) {
        SrtSettings record;
        JsonCast::fromJson(record, body);
        std::string text;
        JsonCast::toJson(record, text);
        expectJson(text);
        if (text.find("\"passphrase\"") != std::string::npos) {
            std::abort();
        }
    },
};

const char* const kPaths[] = {"/network", "/wifi",     "/video",      "/protocol",    "/osd",
                              "/logo",    "/chroma",   "/lte",        "/rs485",       "/adjusttime",
                              "/httpset", "/ftplog",   "/audio",      "/output",      "/ircutConf",
                              "/storage", "/security", "/httpdetect", "/httpupgrade", "/srt"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Some decoders print what they read; libFuzzer reports on standard error.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const uint8_t choice = in.byte();
    const std::string body(in.rest());
    kDocuments[choice % std::size(kDocuments)](body);

    NullDevice device;
    EncoderHttpHandler api(device);
    std::string response = "{}";
    const char* path = kPaths[choice % std::size(kPaths)];
    const int result =
        api.handleApi(choice & 0x80 ? "GET" : "POST", path, "index=1", body, response);
    const bool refused = !JsonDepth::within(body) || JsonStringCheck::hasControlCharacter(body);
    if (refused != (result == EncoderHttpHandler::kBadRequest) || (refused && device.calls != 0)) {
        std::abort();
    }
    if (!refused) {
        expectJson(response);
    }
    return 0;
}
