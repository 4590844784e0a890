#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "FakeDevice.h"

namespace {

using httptest::FakeDevice;

struct Call {
    int result;
    std::string response;
    std::vector<std::string> calls;
};

Call dispatch(FakeDevice& dev, std::string_view method, std::string_view path,
              std::string_view query = "", std::string_view body = "") {
    Call c;
    c.response = "{}";
    c.result = dev.api.handleApi(method, path, query, body, c.response);
    c.calls = dev.calls();
    return c;
}

struct Row {
    const char* path;
    const char* get;    // the calls a GET makes, "|" between them; "" when it is refused (405)
    const char* post;   // the calls a POST makes; "" when it calls nothing
    bool otherIsWrong;  // another method answers 22 without a call
};

// The API table: what GET, POST and DELETE call on every path. A plain document reads the
// settings, and a write of one stores them and tells the media process.
const Row kTable[] = {
    {"/input-status", "getInputStatus 0", "getInputStatus 0", false},
    {"/stream-status", "getStreamStatus 0", "getStreamStatus 0", false},
    {"/stream-url", "getStreamUrl 0", "getStreamUrl 0", false},
    {"/network", "getNetwork", "setNetwork", true},
    {"/wifi", "getWifiParam", "setWifiParam", true},
    {"/video", "settings", "settings|store|notify", true},
    {"/protocol", "getProtocol 0", "settings|store|notify", true},
    {"/osd", "settings", "settings|store|notify", true},
    {"/logo", "settings", "settings|store|notify", true},
    {"/chroma", "settings", "settings|store|notify", true},
    {"/lte", "getLte", "setLte", true},
    {"/rs485", "settings", "setRs485", true},
    {"/adjusttime", "getTime", "setTime", true},
    {"/httpset", "settings", "settings|store", true},
    {"/ftplog", "settings", "settings|store", true},
    {"/clockSet", "settings", "settings|store", true},
    {"/audio", "settings", "settings|store|notify", true},
    {"/output", "getOutput", "settings|store|notify", true},
    {"/streamformat", "getStreamFormat", "", true},
    {"/sysinfo", "getSysInfo", "getSysInfo", false},
    {"/ircutConf", "settings", "settings|store", true},
    {"/httpdetect", "httpDetect ", "httpDetect ", true},
    {"/httpupgrade", "settings", "httpUpgrade", true},
    {"/storage", "getSysInfo", "settings|store|notify", true},
    {"/update", "", "handleUpdate", false},
    {"/update-status", "getUpdateStatus", "getUpdateStatus", false},
    {"/reboot", "", "reboot", false},
    {"/reset", "", "resetFactory", false},
};

std::vector<std::string> expectCalls(std::string_view calls) {
    std::vector<std::string> out;
    while (!calls.empty()) {
        const size_t bar = std::min(calls.find('|'), calls.size());
        out.emplace_back(calls.substr(0, bar));
        calls.remove_prefix(std::min(bar + 1, calls.size()));
    }
    return out;
}

TEST(Dispatcher, EveryPathCallsItsOperationsByMethod) {
    for (const Row& row : kTable) {
        {
            FakeDevice dev;
            const Call c = dispatch(dev, "GET", row.path);
            EXPECT_EQ(c.calls, expectCalls(row.get)) << "GET " << row.path;
            EXPECT_EQ(c.result, *row.get ? 0 : HttpHandler::kMethodNotAllowed)
                << "GET " << row.path;
        }
        {
            FakeDevice dev;
            const Call c = dispatch(dev, "POST", row.path, "", "{}");
            EXPECT_EQ(c.calls, expectCalls(row.post)) << "POST " << row.path;
            EXPECT_EQ(c.result, 0) << "POST " << row.path;
        }
        {
            FakeDevice dev;
            const Call c = dispatch(dev, "DELETE", row.path);
            if (row.otherIsWrong) {
                EXPECT_EQ(c.result, 22) << "DELETE " << row.path;
                EXPECT_TRUE(c.calls.empty()) << "DELETE " << row.path;
                EXPECT_EQ(c.response, "{}") << "DELETE " << row.path;
            } else {
                EXPECT_EQ(c.calls, expectCalls(*row.get ? row.get : row.post))
                    << "DELETE " << row.path;
            }
        }
    }
}

// A link (<img src>, no Origin, no Referer) reaches a route with the browser's cached
// credentials: the safe methods never restart, reset or install anything.
TEST(Dispatcher, SafeMethodsNeverActOnStateChangingRoutes) {
    for (const char* path : {"/reboot", "/reset", "/update"}) {
        for (const char* method : {"GET", "HEAD", "OPTIONS", "GETX"}) {
            FakeDevice dev;
            const Call c = dispatch(dev, method, path);
            EXPECT_EQ(c.result, HttpHandler::kMethodNotAllowed) << method << " " << path;
            EXPECT_TRUE(c.calls.empty()) << method << " " << path;
            EXPECT_EQ(c.response, "{}") << method << " " << path;
        }
        for (const char* method : {"POST", "PUT", "DELETE", "PATCH", "REBOOT"}) {
            FakeDevice dev;
            const Call c = dispatch(dev, method, path);
            EXPECT_EQ(c.calls.size(), 1u) << method << " " << path;
        }
    }
}

TEST(Dispatcher, MethodsCountByTheirBeginning) {
    for (const auto& [method, call] :
         {std::pair<const char*, const char*>{"GETX", "getNetwork"}, {"POSTED", "setNetwork"}}) {
        FakeDevice dev;
        EXPECT_EQ(dispatch(dev, method, "/network").calls, expectCalls(call)) << method;
    }
    FakeDevice dev;
    EXPECT_EQ(dispatch(dev, "GE", "/network").result, 22);
}

TEST(Dispatcher, IndexComesFromTheQuery) {
    const std::pair<const char*, const char*> cases[] = {
        {"index=1", "getStreamUrl 1"},         {"", "getStreamUrl 0"},
        {"index=x", "getStreamUrl 0"},         {"INDEX=1", "getStreamUrl 1"},
        {"a=2&Index=1&b=3", "getStreamUrl 1"}, {"index=7", "getStreamUrl 7"},
        {"index=-1", "getStreamUrl -1"},       {"xindex=1", "getStreamUrl 0"},
        {"index=%31", "getStreamUrl 1"},       {"index=1abc", "getStreamUrl 1"},
    };
    for (const auto& [query, call] : cases) {
        FakeDevice dev;
        EXPECT_EQ(dispatch(dev, "GET", "/stream-url", query).calls, expectCalls(call)) << query;
    }
    FakeDevice dev;
    EXPECT_EQ(dispatch(dev, "GET", "/network", "index=1").calls, expectCalls("getNetwork"));
    // A plain document's index picks its stream; one it refuses answers -1 with a fresh record.
    dev.config.video[1].codec = "sub";
    EXPECT_NE(dispatch(dev, "GET", "/video", "index=1").response.find(R"("codec":"sub")"),
              std::string::npos);
    const Call refused = dispatch(dev, "POST", "/video", "index=7", R"({"codec":"x"})");
    EXPECT_EQ(refused.result, -1);
    EXPECT_EQ(dev.config.video[0].codec, "H.265");
    EXPECT_EQ(dev.config.video[1].codec, "sub");
}

TEST(Dispatcher, PathsMatchExactly) {
    for (const char* path : {"/Network", "/network/", "/networ", "", "/", "/video?index=1"}) {
        FakeDevice dev;
        const Call c = dispatch(dev, "GET", path);
        EXPECT_EQ(c.result, -1) << path;
        EXPECT_EQ(c.response, "unknown api") << path;
        EXPECT_TRUE(c.calls.empty()) << path;
    }
}

TEST(Dispatcher, FailedOperationStillRepliesWithItsRecordOrItsText) {
    FakeDevice dev;
    dev.streamUrl = {"r", "h"};
    dev.result = kApiFailed;
    Call c = dispatch(dev, "GET", "/stream-url", "index=1");
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.response, R"({"http":"h", "rtsp":"r"})");

    dev.writeResponse = R"({"state":"busy"})";
    c = dispatch(dev, "POST", "/httpupgrade", "", R"({"serverIP":"10.0.0.9"})");
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.response, R"({"state":"busy"})");
    EXPECT_EQ(dev.upgrade.serverIP, "10.0.0.9");
}

// Fields the body does not name are the fresh record's (then clamped like any other value).
TEST(Dispatcher, WriteGetsAFreshRecordWithOnlyTheBodysKeys) {
    FakeDevice dev;
    dev.config.video[1].codec = "old";
    dev.config.video[1].bitmode = 1;
    const Call c = dispatch(dev, "POST", "/video", "index=1", R"({"bitrate":4096})");
    EXPECT_EQ(c.calls, expectCalls("settings|store|notify"));
    const enc::VideoSettings& v = dev.config.video[1];
    EXPECT_EQ(v.codec, "");
    EXPECT_EQ(v.profile, "");
    EXPECT_EQ(v.bitmode, 0);
    EXPECT_EQ(v.bitrate, 4096);
    EXPECT_EQ(v.minQp, 15);
    EXPECT_EQ(v.maxQp, 25);
    EXPECT_EQ(c.response, "{}") << "the response stays {} unless the operation sets it";

    FakeDevice failing;
    failing.result = kApiFailed;  // the save fails: nothing is told
    EXPECT_EQ(dispatch(failing, "POST", "/video", "", "{}").calls, expectCalls("settings|store"));
}

TEST(Dispatcher, OverlayReadsAndWritesBothRecords) {
    FakeDevice dev;
    dev.config.osd[1][0].text = "a";
    dev.config.osd[1][1].text = "b";
    Call c = dispatch(dev, "GET", "/osd", "index=1");
    EXPECT_NE(c.response.find(R"("text":"a", "textMode":0},{)"), std::string::npos);
    EXPECT_NE(c.response.find(R"("text":"b"}])"), std::string::npos);

    dispatch(dev, "POST", "/osd", "", R"([{"x":3}, {"x":4}])");
    EXPECT_EQ(dev.config.osd[0][0].x, 3);
    EXPECT_EQ(dev.config.osd[0][1].x, 4);
}

TEST(Dispatcher, HttpDetectDecodesThenAnswersTheRecord) {
    FakeDevice dev;
    const Call c = dispatch(dev, "POST", "/httpdetect", "", R"({"serverIP":"10.0.0.8"})");
    EXPECT_EQ(c.calls, expectCalls("httpDetect 10.0.0.8"));
    EXPECT_EQ(c.response, R"({"serverIP":"10.0.0.8", "version":"9.9"})");
}

TEST(Dispatcher, UpdateUsesTheLastUploadedFile) {
    FakeDevice dev;
    dev.api.handleUpload("file", "/var//fw.bin");
    dispatch(dev, "POST", "/update");
    EXPECT_EQ(dev.updatePath, "/var//fw.bin");
}

TEST(Dispatcher, InvalidBodyLeavesTheFreshRecord) {
    FakeDevice dev;
    dev.time.year = 2000;
    EXPECT_EQ(dispatch(dev, "POST", "/adjusttime", "", "garbage").result, 0);
    EXPECT_EQ(dev.time.year, 0);
    dispatch(dev, "POST", "/adjusttime", "", R"({"year":2024})");
    EXPECT_EQ(dev.time.year, 2024);
    EXPECT_EQ(dev.time.month, 0);
}

}  // namespace
