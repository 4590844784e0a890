// Bodies nested too deeply are refused before any parser sees them, and every route's
// decoding runs within a small, fixed stack whatever the body.
#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <string>

#include "EncoderHttpHandler.h"
#include "FakeDevice.h"
#include "JsonCast.h"
#include "JsonDepth.h"

namespace {

using enc::EncoderHttpHandler;
using enc::JsonDepth;
using httptest::FakeDevice;

std::string nested(size_t levels, const std::string& open = "[", const std::string& inner = "") {
    std::string text;
    for (size_t i = 0; i < levels; ++i) {
        text += open;
    }
    return text + inner;  // left unclosed, as an attacker would
}

TEST(JsonDepth, CountsArraysAndObjectsOutsideStrings) {
    const struct {
        std::string text;
        size_t limit;
        bool within;
    } cases[] = {
        {"", 0, true},
        {"{}", 0, false},
        {"{}", 1, true},
        {"[{}]", 1, false},
        {"[{}]", 2, true},
        {nested(32), 32, true},
        {nested(33), 32, false},
        {nested(32, "{\"a\":"), 32, true},
        {nested(33, "{\"a\":"), 32, false},
        {"[" + std::string(1000, ']') + "[[", 2, true},  // stray closers never lower the floor
        {"[\"" + nested(100) + "\"]", 1, true},          // brackets inside a string
        {"[\"\\\"" + nested(100) + "\"]", 1, true},      // after an escaped quote: still a string
        {"[\"\\\\\"" + nested(2), 2, false},             // an escaped backslash ends nothing
        {"{\"codec\":" + nested(700), 32, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JsonDepth::within(c.text, c.limit), c.within)
            << c.text.substr(0, 60) << " limit " << c.limit;
    }
    EXPECT_TRUE(JsonDepth::within(nested(JsonDepth::kLimit)));
    EXPECT_FALSE(JsonDepth::within(nested(JsonDepth::kLimit + 1)));
}

// Every path that decodes a body, with its method.
const char* const kWritePaths[] = {
    "/network", "/wifi",      "/video",      "/protocol",    "/osd",     "/logo",     "/chroma",
    "/lte",     "/rs485",     "/adjusttime", "/httpset",     "/ftplog",  "/clockSet", "/audio",
    "/output",  "/ircutConf", "/httpdetect", "/httpupgrade", "/storage", "/srt"};

TEST(ApiNesting, DeepBodiesAreRefusedWithoutCallingTheDevice) {
    for (const char* path : kWritePaths) {
        for (const std::string& body : {nested(1000), "{\"codec\":" + nested(700),
                                        nested(JsonDepth::kLimit + 1, "{\"x\":")}) {
            FakeDevice dev;
            std::string response = "{}";
            EXPECT_EQ(dev.api.handleApi("POST", path, "", body, response),
                      EncoderHttpHandler::kBadRequest)
                << path;
            EXPECT_TRUE(dev.calls().empty()) << path;
            EXPECT_NE(response.find("nested"), std::string::npos) << path << ": " << response;
        }
    }
}

TEST(ApiNesting, BodiesAtTheLimitAreStillDecoded) {
    FakeDevice dev;
    std::string response = "{}";
    // The wanted key at the top, a deep but allowed member beside it.
    const std::string body = "{\"bitrate\":4096,\"x\":" + nested(JsonDepth::kLimit - 1) +
                             std::string(JsonDepth::kLimit - 1, ']') + "}";
    EXPECT_EQ(dev.api.handleApi("POST", "/video", "index=1", body, response), 0);
    EXPECT_EQ(dev.config.video[1].bitrate, 4096);
}

TEST(ApiNesting, DecodersIgnoreDeepBodiesOnTheirOwn) {
    enc::VideoSettings video;
    enc::JsonCast::fromJson(
        video, "{\"codec\":\"H.264\",\"x\":" + nested(100) + std::string(100, ']') + "}");
    EXPECT_EQ(video.codec, "");
    enc::OsdSettings a;
    enc::OsdSettings b;
    a.x = 7;
    enc::JsonCast::fromJson(a, b, "[{\"x\":1}," + nested(100) + std::string(100, ']') + "]");
    EXPECT_EQ(a.x, 7);
}

// Runs fn on a thread with a small stack; a stack overflow ends the test binary.
void onSmallStack(const std::function<void()>& fn) {
    // Small enough that an unbounded parse of a 1 KB body would overflow it, large enough
    // for the bounded one (also under the sanitizers, whose frames are larger).
    constexpr size_t kStack = 64 * 1024;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kStack);
    pthread_t thread;
    auto body = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, body, const_cast<std::function<void()>*>(&fn)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

TEST(ApiNesting, EveryRouteRunsOnASmallStack) {
    FakeDevice dev;
    int refused = 0;
    onSmallStack([&] {
        for (const char* path : kWritePaths) {
            for (const std::string& body :
                 {nested(100000), "{\"codec\":" + nested(100000, "{\"a\":"),
                  nested(JsonDepth::kLimit) + std::string(JsonDepth::kLimit, ']')}) {
                std::string response = "{}";
                if (dev.api.handleApi("POST", path, "", body, response) ==
                    EncoderHttpHandler::kBadRequest) {
                    ++refused;
                }
            }
        }
    });
    EXPECT_EQ(refused, 2 * static_cast<int>(std::size(kWritePaths)));
}

}  // namespace
