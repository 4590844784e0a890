// The benchmark programs still build and talk the runner's protocol. Counts are checked
// exactly (loopback loses nothing at these sizes); no speed is judged here.
#include <gtest/gtest.h>

#include <sstream>

#include "BenchChild.h"
#include "RtmpServers.h"
#include "TestSupport.h"

namespace {

using testsupport::programPath;

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string word; in >> word;) {
        out.push_back(word);
    }
    return out;
}

// The value of "name":[...] in the sink's JSON line, as text.
std::string listField(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":[";
    const size_t at = json.find(key);
    if (at == std::string::npos) {
        return "?";
    }
    const size_t begin = at + key.size();
    return json.substr(begin, json.find(']', begin) - begin);
}

TEST(BenchSmoke, SinkCountsEveryDatagramOfTheBareSenderBothWays) {
    testsupport::TempDir dir;
    const std::string ts = dir.path() + "/stream.ts";
    testsupport::writeFile(ts, std::string(10 * 1316 + 188, '\x47'));  // a short last datagram
    for (const char* mode : {"sendto", "sendmmsg"}) {
        BenchChild sink({programPath("bench-sink"), "udp", "--count", "2"});
        const std::vector<std::string> ports = words(sink.lineStartingWith("ports"));
        ASSERT_EQ(ports.size(), 3u) << mode;
        BenchChild sender({programPath("bench-udp-limit"), "--mode", mode, "--target",
                           "127.0.0.1:" + ports[1], "--target", "127.0.0.1:" + ports[2], ts});
        EXPECT_NE(sender.lineStartingWith("{\"start_ns\""), "") << mode;
        EXPECT_EQ(sender.wait(), 0) << mode;
        sink.send("finish");
        const std::string result = sink.lineStartingWith("{");
        EXPECT_EQ(listField(result, "bytes"), "13348,13348") << mode << ": " << result;
        EXPECT_NE(result.find("\"kernel_drops\":0"), std::string::npos) << result;
        EXPECT_EQ(sink.wait(), 0);
    }
}

// A one-second clip made once for the stream cases.
std::string makeClip(const testsupport::TempDir& dir) {
    const std::string clip = dir.path() + "/clip.mp4";
    const int status = testsupport::shell(
        "ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i "
        "sine=f=440 -t 1 -c:v libx264 -bf 0 -g 25 -c:a aac " +
        clip);
    return status == 0 ? clip : "";
}

struct StreamCase {
    const char* protocol;
    std::vector<std::string> castExtra;
    std::vector<std::string> sinkExtra;
};

void PrintTo(const StreamCase& param, std::ostream* out) {
    *out << param.protocol;
}

class BenchSmokeStream : public ::testing::TestWithParam<StreamCase> {};

// HTTP clients decode the chunks; SRT callers (a generous receiver delay, so that a busy
// machine drops nothing) get every message of the listener.
TEST_P(BenchSmokeStream, CastDriverFeedsEveryClientTheSameWholePackets) {
    const StreamCase& param = GetParam();
    testsupport::TempDir dir;
    const std::string clip = makeClip(dir);
    ASSERT_NE(clip, "");
    std::vector<std::string> castArgs = {
        programPath("bench-cast"), "--protocol", param.protocol, "--clients", "2", "--hold"};
    castArgs.insert(castArgs.end(), param.castExtra.begin(), param.castExtra.end());
    castArgs.push_back(clip);
    BenchChild cast(castArgs);
    const std::vector<std::string> listening = words(cast.lineStartingWith("listening"));
    ASSERT_EQ(listening.size(), 2u);
    std::vector<std::string> sinkArgs = {programPath("bench-sink"),   param.protocol, "--connect",
                                         "127.0.0.1:" + listening[1], "--count",      "2"};
    sinkArgs.insert(sinkArgs.end(), param.sinkExtra.begin(), param.sinkExtra.end());
    BenchChild sink(sinkArgs);
    ASSERT_NE(sink.lineStartingWith("ready"), "");
    cast.send("go");
    ASSERT_NE(cast.lineStartingWith("written"), "");
    sink.send("finish");
    const std::string result = sink.lineStartingWith("{");
    cast.send("done");
    EXPECT_NE(cast.lineStartingWith("{\"start_ns\""), "");
    EXPECT_EQ(cast.wait(), 0);
    // Both clients got the same whole number of TS packets, and no framing error.
    const std::string bytes = listField(result, "bytes");
    const size_t comma = bytes.find(',');
    ASSERT_NE(comma, std::string::npos) << result;
    const long first = std::stol(bytes.substr(0, comma));
    EXPECT_GT(first, 0) << result;
    EXPECT_EQ(first % 188, 0) << result;
    EXPECT_EQ(bytes.substr(comma + 1), bytes.substr(0, comma)) << result;
    EXPECT_NE(result.find("\"errors\":0"), std::string::npos) << result;
}

// Two pushes into nginx: the driver waits for both to publish and, at the end, until each has
// sent (or, before its first picture, dropped) every frame it was given.
TEST(BenchSmoke, CastDriverPushesEveryFrameToEachRtmpServer) {
    testsupport::TempDir dir;
    const std::string clip = makeClip(dir);
    ASSERT_NE(clip, "");
    sluicetest::NginxRtmp nginx;
    ASSERT_TRUE(nginx.start()) << nginx.errorLog();
    BenchChild cast({programPath("bench-cast"), "--protocol", "rtmp", "--pace", "4", "--url",
                     nginx.url("a"), "--url", nginx.url("b"), clip});
    const std::string result = cast.lineStartingWith("{\"start_ns\"");
    EXPECT_EQ(cast.wait(), 0);
    const size_t at = result.find("\"frames\":");
    ASSERT_NE(at, std::string::npos) << result;
    const long frames = std::stol(result.substr(at + 9));
    const std::string sent = listField(result, "sent");
    const std::string dropped = listField(result, "dropped");
    ASSERT_EQ(sent.find(','), sent.rfind(',')) << result;
    EXPECT_EQ(sent.substr(0, sent.find(',')), sent.substr(sent.find(',') + 1)) << result;
    EXPECT_EQ(dropped.substr(0, dropped.find(',')), dropped.substr(dropped.find(',') + 1))
        << result;
    EXPECT_GT(std::stol(sent), 0) << result;
    EXPECT_EQ(std::stol(sent) + std::stol(dropped), frames) << result;
}

INSTANTIATE_TEST_SUITE_P(
    Protocols, BenchSmokeStream,
    ::testing::Values(StreamCase{"http", {}, {}},
                      // The sink waits for silence longer than the receiver delay: the
                      // clip's last second is still on its way when it has been written.
                      StreamCase{
                          "srt", {"--pace", "1"}, {"--latency-ms", "1000", "--quiet-ms", "3000"}}),
    [](const ::testing::TestParamInfo<StreamCase>& param) {
        return std::string(param.param.protocol);
    });

}  // namespace
