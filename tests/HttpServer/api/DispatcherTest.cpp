#include <gtest/gtest.h>

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
    const char* get;    // the call a GET makes; "" when it is refused (405)
    const char* post;   // the call a POST makes; "" when it calls nothing
    bool otherIsWrong;  // another method answers 22 without a call
};

// The API table: what GET, POST and DELETE call on every path.
const Row kTable[] = {
    {"/input-status", "getInputStatus 0", "getInputStatus 0", false},
    {"/stream-status", "getStreamStatus 0", "getStreamStatus 0", false},
    {"/stream-url", "getStreamUrl 0", "getStreamUrl 0", false},
    {"/network", "getNetwork", "setNetwork", true},
    {"/wifi", "getWifiParam", "setWifiParam", true},
    {"/video", "getVideo 0", "setVideo 0", true},
    {"/protocol", "getProtocol 0", "setProtocol 0", true},
    {"/osd", "getOsd 0", "setOsd 0", true},
    {"/logo", "getLogo 0", "setLogo 0", true},
    {"/chroma", "getChroma 0", "setChroma 0", true},
    {"/lte", "getLte", "setLte", true},
    {"/rs485", "getRs485", "setRs485", true},
    {"/adjusttime", "getTime", "setTime", true},
    {"/httpset", "getHttpSet", "setHttpSet", true},
    {"/ftplog", "getFtpServer", "setFtpServer", true},
    {"/clockSet", "getFtpServer", "setFtpServer", true},
    {"/audio", "getAudio", "setAudio", true},
    {"/output", "getOutput", "setOutput", true},
    {"/streamformat", "getStreamFormat", "", true},
    {"/sysinfo", "getSysInfo", "getSysInfo", false},
    {"/ircutConf", "getIrcutConf", "setIrcutConf", true},
    {"/httpdetect", "httpDetect ", "httpDetect ", true},
    {"/httpupgrade", "getHttpSet", "httpUpgrade", true},
    {"/storage", "getSysInfo", "setSysInfo", true},
    {"/update", "", "handleUpdate", false},
    {"/update-status", "getUpdateStatus", "getUpdateStatus", false},
    {"/reboot", "", "reboot", false},
    {"/reset", "", "resetFactory", false},
};

std::vector<std::string> expectCalls(const char* call) {
    return *call ? std::vector<std::string>{call} : std::vector<std::string>{};
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
        {"index=1", "getVideo 1"},         {"", "getVideo 0"},
        {"index=x", "getVideo 0"},         {"INDEX=1", "getVideo 1"},
        {"a=2&Index=1&b=3", "getVideo 1"}, {"index=7", "getVideo 7"},
        {"index=-1", "getVideo -1"},       {"xindex=1", "getVideo 0"},
        {"index=%31", "getVideo 1"},       {"index=1abc", "getVideo 1"},
    };
    for (const auto& [query, call] : cases) {
        FakeDevice dev;
        EXPECT_EQ(dispatch(dev, "GET", "/video", query).calls, expectCalls(call)) << query;
    }
    FakeDevice dev;
    EXPECT_EQ(dispatch(dev, "GET", "/network", "index=1").calls, expectCalls("getNetwork"));
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

TEST(Dispatcher, WriteGetsAFreshRecordWithOnlyTheBodysKeys) {
    FakeDevice dev;
    dev.video.codec = "old";
    dev.video.framerate = 60;
    const Call c = dispatch(dev, "POST", "/video", "index=1", R"({"bitrate":4096})");
    EXPECT_EQ(c.calls, expectCalls("setVideo 1"));
    EXPECT_EQ(dev.video.codec, "");
    EXPECT_EQ(dev.video.profile, "");
    EXPECT_EQ(dev.video.framerate, 0);
    EXPECT_EQ(dev.video.gop, 0);
    EXPECT_EQ(dev.video.bitrate, 4096);
    EXPECT_EQ(dev.video.minQp, 15);
    EXPECT_EQ(dev.video.maxQp, 25);
    EXPECT_EQ(c.response, "{}") << "the response stays {} unless the operation sets it";
}

TEST(Dispatcher, OverlayReadsAndWritesBothRecords) {
    FakeDevice dev;
    dev.osdFirst.text = "a";
    dev.osdSecond.text = "b";
    Call c = dispatch(dev, "GET", "/osd", "index=1");
    EXPECT_NE(c.response.find(R"("text":"a", "textMode":0},{)"), std::string::npos);
    EXPECT_NE(c.response.find(R"("text":"b"}])"), std::string::npos);

    FakeDevice dev2;
    dispatch(dev2, "POST", "/osd", "", R"([{"x":3}, {"x":4}])");
    EXPECT_EQ(dev2.osdFirst.x, 3);
    EXPECT_EQ(dev2.osdSecond.x, 4);
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
