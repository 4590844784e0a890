// sluice-cast, the example client, against Debian's ffprobe and curl: usage, a raw .h264/.aac
// pair and an .mp4 over UDP (the second to a multicast group inside a private network
// namespace), the SDP file of an RTP cast, and serving raw TCP and chunked HTTP.
// (RTP headers and logging: ApiTest, CasterTest.)
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <map>

#include "Background.h"
#include "ChildProcess.h"
#include "MediaClip.h"
#include "TcpClient.h"
#include "TestSupport.h"
#include "UdpReceiver.h"

using sluicetest::Background;
using testsupport::shell;
using testsupport::waitFor;

namespace {

constexpr double kClipSeconds = 2.0;

std::string cast() {
    return "'" + testsupport::programPath("sluice-cast") + "'";
}

// Streams and packet times of input (a file, or a UDP address ffprobe listens on).
std::string ffprobe(const std::string& prefix, const std::string& input) {
    return prefix + "ffprobe -v error -show_entries stream=index,codec_name,width,height" +
           " -show_entries packet=stream_index,pts_time -of compact '" + input + "'";
}

/// Whether something listens on the UDP port (inside the namespace of prefix).
bool udpListening(const std::string& prefix, int port) {
    std::string out;
    shell(prefix + "ss -Hnul 'sport = :" + std::to_string(port) + "'", &out);
    return !out.empty();
}

// Two seconds of stream hold a key frame (one a second) with its parameter sets.
const char* kStreamEntries =
    " -analyzeduration 2000000 -show_entries stream=index,codec_name,width,height -of compact "
    "2>/dev/null";

void expectTheClipsStreams(const std::string& output) {
    std::map<int, sluicetest::Fields> streams;
    for (auto& s : sluicetest::ffprobeEntries(output, "stream")) {
        streams[std::stoi(s["index"])] = s;
    }
    ASSERT_EQ(streams.size(), 2u) << output;
    EXPECT_EQ(streams[0]["codec_name"], "h264") << output;
    EXPECT_EQ(streams[0]["width"], "320");
    EXPECT_EQ(streams[0]["height"], "240");
    EXPECT_EQ(streams[1]["codec_name"], "aac") << output;
}

class CastTool : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sluicetest::makeClip(m_dir.path(), kClipSeconds, 320, 240, error)) << error;
    }

    /// Casts the files to address with ffprobe listening there (ffprobe ends after 2 s of
    /// silence) and expects ffprobe to find the whole clip.
    void castAndProbe(const std::string& prefix, const std::string& address, int port,
                      const std::string& files) {
        Background probe(ffprobe(prefix, "udp://" + address + "?timeout=2000000") + " 2>&1");
        ASSERT_TRUE(waitFor([&] { return udpListening(prefix, port); }));
        castAll(prefix + cast() + " -t " + address + " " + files);
        probe.finish();
        expectTheWholeClip(probe.output());
    }
    static void castAll(const std::string& commandLine) {
        std::string out;
        ASSERT_EQ(shell(commandLine + " 2>&1", &out), 0) << out;
        EXPECT_NE(out.find("50 video and"), std::string::npos) << out;
    }
    /// ffprobe found both streams, every frame, and the clip's length.
    static void expectTheWholeClip(const std::string& probeOutput) {
        expectTheClipsStreams(probeOutput);
        std::map<int, std::vector<double>> times;
        for (auto& p : sluicetest::ffprobeEntries(probeOutput, "packet")) {
            if (p["pts_time"] != "N/A") {
                times[std::stoi(p["stream_index"])].push_back(std::stod(p["pts_time"]));
            }
        }
        EXPECT_EQ(times[0].size(), 50u);  // 2 s at 25 fps, none lost
        // From the first packet to the end of the last one: the clip's length.
        for (const auto& [stream, frame] : std::map<int, double>{{0, 0.04}, {1, 1024.0 / 48000}}) {
            const auto [first, last] =
                std::minmax_element(times[stream].begin(), times[stream].end());
            ASSERT_NE(first, times[stream].end());
            EXPECT_NEAR(*last - *first + frame, kClipSeconds, 0.06) << stream;
        }
    }

    /// sluice-cast serving the clip in a loop on a port of its choice; waits until it listens.
    std::unique_ptr<testsupport::ChildProcess> serve(const std::string& protocol) {
        auto server = std::make_unique<testsupport::ChildProcess>();
        EXPECT_TRUE(server->start({testsupport::programPath("sluice-cast"), "-q", "--loop", "0",
                                   "-p", protocol, "-l", "0", m_dir.file("clip.mp4")}));
        m_port = server->waitForPort("sluice-cast: listening on port");
        EXPECT_NE(m_port, 0) << server->output();
        return m_port != 0 ? std::move(server) : nullptr;
    }
    std::string url(const std::string& scheme) const {
        return scheme + "://127.0.0.1:" + std::to_string(m_port) + "/";
    }

    testsupport::TempDir m_dir;
    int m_port = 0;
};

}  // namespace

TEST(CastToolUsage, HelpAndBadUsage) {
    std::string out;
    EXPECT_EQ(shell(cast() + " --help", &out), 0);
    EXPECT_NE(out.find("Usage: sluice-cast"), std::string::npos);
    EXPECT_NE(out.find("--protocol"), std::string::npos);
    for (const char* bad : {"", "-p carrier-pigeon x.mp4", "-t 127.0.0.1 x.mp4", "--stats 0 x.mp4",
                            "--stats x x.mp4"}) {
        EXPECT_EQ(shell(cast() + " " + bad + " 2>&1"), 1) << bad;
    }
    EXPECT_EQ(shell(cast() + " /nonexistent/clip.mp4 2>&1"), 2);
}

TEST_F(CastTool, RawH264AndAacPairIsCastTogether) {
    sluicetest::UdpReceiver receiver;
    castAll(cast() + " -t 127.0.0.1:" + std::to_string(receiver.port()) + " '" +
            m_dir.file("clip.h264") + "' '" + m_dir.file("clip.aac") + "'");
    ASSERT_TRUE(receiver.waitQuiet());
    testsupport::writeFile(m_dir.file("received.ts"), receiver.joined());
    std::string out;
    ASSERT_EQ(shell(ffprobe("", m_dir.file("received.ts")) + " 2>&1", &out), 0) << out;
    expectTheWholeClip(out);
}

TEST_F(CastTool, MulticastGroupInsideAPrivateNetworkNamespace) {
    std::string why;
    if (!testsupport::NetNamespace::available(&why)) {
        GTEST_SKIP() << why;
    }
    testsupport::NetNamespace ns;
    ASSERT_TRUE(ns.ok()) << ns.reason();
    // Inside the private namespace nothing else listens on the port.
    castAndProbe(ns.execPrefix(), "239.255.77.1:45000", 45000, "'" + m_dir.file("clip.mp4") + "'");
}

TEST_F(CastTool, RtpCastWritesAnSdpFile) {
    const std::string sdp = m_dir.file("clip.sdp");
    const testsupport::TakenPort silent(testsupport::TakenPort::Kind::Udp);
    const std::string port = std::to_string(silent.port());  // bound, but nobody reads
    std::string out;
    ASSERT_EQ(shell(cast() + " -q --fast -p rtp -t 127.0.0.1:" + port + " --sdp '" + sdp + "' '" +
                        m_dir.file("clip.mp4") + "' 2>&1",
                    &out),
              0)
        << out;
    const std::string description = testsupport::readFile(sdp);
    EXPECT_NE(description.find("m=video " + port + " RTP/AVP 33"), std::string::npos)
        << description;
    EXPECT_NE(description.find("a=rtpmap:33 MP2T/90000"), std::string::npos);
}

TEST_F(CastTool, FfprobeIdentifiesTheRawTcpStream) {
    auto cast = serve("tcp");
    ASSERT_NE(cast, nullptr);
    std::string out;
    EXPECT_EQ(shell("timeout 60 ffprobe -v error '" + url("tcp") + "'" + kStreamEntries, &out), 0);
    expectTheClipsStreams(out);
    EXPECT_EQ(cast->stop(), 0) << cast->output();
}

// The body never ends by itself (no terminating chunk): curl gets chunks until the caster
// goes, and then reports the transfer as cut short (18). The exact chunk framing is checked
// in HttpCasterTest; here a real client decodes it and ffprobe finds the clip in the result.
TEST_F(CastTool, CurlReceivesTheClipAsAChunkedBody) {
    auto cast = serve("http");
    ASSERT_NE(cast, nullptr);
    const std::string raw = m_dir.file("raw"), headers = m_dir.file("headers");
    const std::string decoded = m_dir.file("decoded.ts");
    testsupport::ChildProcess rawCurl;  // the chunk framing kept
    ASSERT_TRUE(rawCurl.start(
        testsupport::curlCommand(url("http"), {"--raw", "-D", headers, "-o", raw}, 60)));
    testsupport::ChildProcess decodedCurl;
    ASSERT_TRUE(decodedCurl.start(testsupport::curlCommand(url("http"), {"-o", decoded}, 60)));
    ASSERT_TRUE(waitFor(
        [&] {
            return testsupport::readFile(raw).size() > 200000 &&
                   testsupport::readFile(decoded).size() > 100000;
        },
        std::chrono::seconds(30)));
    EXPECT_EQ(cast->stop(), 0) << cast->output();
    // curl ends by itself once it sees the connection go, the transfer cut short.
    for (testsupport::ChildProcess* curl : {&decodedCurl, &rawCurl}) {
        const int status = curl->waitExit(std::chrono::seconds(30));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 18) << status;
    }
    std::string out;
    shell("ffprobe -v error '" + decoded + "'" + kStreamEntries, &out);
    expectTheClipsStreams(out);

    EXPECT_EQ(testsupport::readFile(headers),
              "HTTP/1.1 200 OK\r\nCache-Control: no-cache\r\nContent-Type: video/MP2T\r\n"
              "Transfer-Encoding: chunked\r\n\r\n");
    EXPECT_GT(testsupport::readFile(raw).size(), 200000u);
}

// --stats prints a table with one line per destination, at the end of a short cast at least.
TEST_F(CastTool, StatsPrintsEveryDestinationsCounters) {
    sluicetest::UdpReceiver receiver;
    const std::string target = "127.0.0.1:" + std::to_string(receiver.port());
    std::string out;
    ASSERT_EQ(shell(cast() + " --fast --stats 60 -t " + target + " -t 127.0.0.1:0 '" +
                        m_dir.file("clip.mp4") + "' 2>&1",
                    &out),
              0)
        << out;
    EXPECT_EQ(out.find("DESTINATION"), 0u) << out;
    const size_t line = out.find("\n" + target + " ");
    ASSERT_NE(line, std::string::npos) << out;
    EXPECT_NE(out.find(" udp ", line), std::string::npos) << out;
    const size_t refused = out.find("\n127.0.0.1:0 ");
    ASSERT_NE(refused, std::string::npos) << out;
    EXPECT_NE(out.find("Invalid argum", refused), std::string::npos) << out;
}
