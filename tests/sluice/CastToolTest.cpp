// sluice-cast, the example client, against Debian's ffprobe: UDP, RTP through an SDP file,
// a raw .h264/.aac pair, a multicast group inside a private network namespace, and the
// library's logging as a user meets it.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <map>
#include <thread>

#include "MediaClip.h"
#include "TestSupport.h"

using testsupport::shell;

namespace {

constexpr double kClipSeconds = 2.0;

std::string cast() {
    return testsupport::programPath("sluice-cast");
}

/// An RTCP BYE (RFC 3550) for SSRC 16 with an empty reason: tells an RTP receiver that the
/// stream has ended. (FFmpeg ignores RTCP packets shorter than an RTP header.)
void sendRtcpBye(uint16_t port) {
    const uint8_t bye[12] = {0x81, 203, 0, 2, 0, 0, 0, 16, 0, 0, 0, 0};
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    ::sendto(fd, bye, sizeof bye, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::close(fd);
}

bool bindUdp(uint16_t port, uint16_t* bound = nullptr) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (ok && bound != nullptr) {
        socklen_t length = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
        *bound = ntohs(addr.sin_port);
    }
    ::close(fd);
    return ok;
}

/// A free port whose successor is free too (RTP and RTCP).
uint16_t freePortPair() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint16_t port = 0;
        if (bindUdp(0, &port) && port < 65535 && bindUdp(static_cast<uint16_t>(port + 1))) {
            return port;
        }
    }
    return 0;
}

/// What ffprobe reports about a stream: codecs, resolution and the span of the packets.
struct Probe {
    std::string output;
    std::map<int, std::map<std::string, std::string>> streams;  // by stream index
    std::map<int, std::vector<double>> packetTimes;

    void parse() {
        for (const std::string& line : testsupport::splitLines(output)) {
            std::map<std::string, std::string> fields;
            std::istringstream in(line);
            std::string item;
            std::getline(in, item, '|');
            const std::string kind = item;
            while (std::getline(in, item, '|')) {
                const size_t eq = item.find('=');
                if (eq != std::string::npos) {
                    fields[item.substr(0, eq)] = item.substr(eq + 1);
                }
            }
            if (kind == "stream" && fields.count("index") != 0) {
                streams[std::stoi(fields["index"])] = fields;
            } else if (kind == "packet" && fields.count("pts_time") != 0 &&
                       fields["pts_time"] != "N/A") {
                packetTimes[std::stoi(fields["stream_index"])].push_back(
                    std::stod(fields["pts_time"]));
            }
        }
    }
    /// From the first packet to the end of the last one.
    double span(int stream, double frameSeconds) const {
        const auto& t = packetTimes.at(stream);
        return *std::max_element(t.begin(), t.end()) - *std::min_element(t.begin(), t.end()) +
               frameSeconds;
    }
};

/// Runs ffprobe in the background; finish() waits for it (it ends after 2 s of silence).
class BackgroundProbe {
public:
    explicit BackgroundProbe(const std::string& prefixAndInput) {
        m_thread = std::thread([this, prefixAndInput] {
            m_status = shell("timeout 60 " + prefixAndInput + " 2>&1", &m_probe.output);
            m_done = true;
        });
    }
    ~BackgroundProbe() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    Probe& finish() {
        m_thread.join();
        m_probe.parse();
        return m_probe;
    }
    int status() const { return m_status; }
    bool done() const { return m_done; }

private:
    Probe m_probe;
    int m_status = -1;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

std::string ffprobe(const std::string& extra) {
    return "ffprobe -v error " + extra +
           " -show_entries stream=index,codec_name,width,height,sample_rate,channels"
           " -show_entries packet=stream_index,pts_time -of compact";
}

class CastTool : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sluicetest::makeClip(m_dir.path(), kClipSeconds, 320, 240, error)) << error;
    }

    /// firstLost: an RTP receiver drops the first packet while it validates the sequence
    /// numbers (RFC 3550 probation), and the first frame with it.
    void expectTheClip(Probe& probe, bool firstLost = false) {
        ASSERT_EQ(probe.streams.size(), 2u) << probe.output;
        EXPECT_EQ(probe.streams[0]["codec_name"], "h264") << probe.output;
        EXPECT_EQ(probe.streams[0]["width"], "320");
        EXPECT_EQ(probe.streams[0]["height"], "240");
        EXPECT_EQ(probe.streams[1]["codec_name"], "aac");
        const size_t frames = probe.packetTimes[0].size();  // 2 s at 25 fps
        EXPECT_TRUE(frames == 50u || (firstLost && frames == 49u)) << probe.output;
        EXPECT_NEAR(probe.span(0, 0.04), kClipSeconds - (50u - frames) * 0.04, 0.05);
        EXPECT_NEAR(probe.span(1, 1024.0 / 48000), kClipSeconds, 0.06);
    }

    /// Starts ffprobe on a UDP port of 127.0.0.1 and waits until it listens.
    std::unique_ptr<BackgroundProbe> probeUdp(uint16_t port) {
        auto probe = std::make_unique<BackgroundProbe>(
            ffprobe("") + " 'udp://127.0.0.1:" + std::to_string(port) + "?timeout=2000000'");
        EXPECT_TRUE(testsupport::waitFor([port] { return !bindUdp(port); }));
        return probe;
    }

    testsupport::TempDir m_dir;
};

}  // namespace

TEST(CastToolUsage, HelpAndBadUsage) {
    std::string out;
    EXPECT_EQ(shell("'" + cast() + "' --help", &out), 0);
    EXPECT_NE(out.find("Usage: sluice-cast"), std::string::npos);
    EXPECT_NE(out.find("--protocol"), std::string::npos);
    EXPECT_EQ(shell("'" + cast() + "' 2>&1"), 1);
    EXPECT_EQ(shell("'" + cast() + "' -p carrier-pigeon x.mp4 2>&1"), 1);
    EXPECT_EQ(shell("'" + cast() + "' -t 127.0.0.1 x.mp4 2>&1"), 1);
    EXPECT_EQ(shell("'" + cast() + "' -p http x.mp4 2>&1", &out), 1);  // clients need a port
    EXPECT_NE(out.find("need --port"), std::string::npos) << out;
    EXPECT_EQ(shell("'" + cast() + "' /nonexistent/clip.mp4 2>&1"), 2);
}

TEST_F(CastTool, UdpStreamIsReadByFfprobeAsTheClip) {
    uint16_t port = 0;
    ASSERT_TRUE(bindUdp(0, &port));
    auto probe = probeUdp(port);
    std::string out;
    ASSERT_EQ(shell("'" + cast() + "' -t 127.0.0.1:" + std::to_string(port) + " '" +
                        m_dir.file("clip.mp4") + "' 2>&1",
                    &out),
              0)
        << out;
    EXPECT_NE(out.find("50 video and"), std::string::npos) << out;
    expectTheClip(probe->finish());
}

TEST_F(CastTool, RawH264AndAacPairIsCastTogether) {
    uint16_t port = 0;
    ASSERT_TRUE(bindUdp(0, &port));
    auto probe = probeUdp(port);
    std::string out;
    ASSERT_EQ(shell("'" + cast() + "' -q -t 127.0.0.1:" + std::to_string(port) + " '" +
                        m_dir.file("clip.h264") + "' '" + m_dir.file("clip.aac") + "' 2>&1",
                    &out),
              0)
        << out;
    expectTheClip(probe->finish());
}

TEST_F(CastTool, RtpStreamIsReadByFfprobeThroughAnSdpFile) {
    const uint16_t port = freePortPair();
    ASSERT_NE(port, 0);
    const std::string target = "127.0.0.1:" + std::to_string(port);
    const std::string sdp = m_dir.file("clip.sdp");
    std::string out;
    // The tool writes the SDP file; this first cast goes to nobody.
    ASSERT_EQ(shell("'" + cast() + "' -q --fast -p rtp -t " + target + " --sdp '" + sdp + "' '" +
                        m_dir.file("clip.mp4") + "' 2>&1",
                    &out),
              0)
        << out;
    const std::string description = testsupport::readFile(sdp);
    EXPECT_NE(description.find("m=video " + std::to_string(port) + " RTP/AVP 33"),
              std::string::npos)
        << description;
    EXPECT_NE(description.find("a=rtpmap:33 MP2T/90000"), std::string::npos);

    BackgroundProbe probe(ffprobe("-protocol_whitelist file,udp,rtp") + " '" + sdp + "'");
    ASSERT_TRUE(testsupport::waitFor([port] { return !bindUdp(port); }));
    ASSERT_EQ(
        shell("'" + cast() + "' -q -p 3 -t " + target + " '" + m_dir.file("clip.mp4") + "' 2>&1",
              &out),
        0)
        << out;
    // ffprobe ends on an RTCP BYE (or after a long silence); it may first be busy probing
    // the stream, which takes the first BYE, so repeat it until ffprobe is done.
    EXPECT_TRUE(testsupport::waitFor(
        [&] {
            sendRtcpBye(static_cast<uint16_t>(port + 1));
            return probe.done();
        },
        std::chrono::seconds(30), std::chrono::milliseconds(200)));
    expectTheClip(probe.finish(), true);
}

TEST_F(CastTool, MulticastGroupInsideAPrivateNetworkNamespace) {
    std::string why;
    if (!testsupport::NetNamespace::available(&why)) {
        GTEST_SKIP() << why;
    }
    testsupport::NetNamespace ns;
    ASSERT_TRUE(ns.ok()) << ns.reason();
    const std::string group = "239.255.77.1";
    const std::string port = "45000";  // inside the private namespace nothing else listens
    BackgroundProbe probe(ns.execPrefix() + ffprobe("") + " 'udp://" + group + ":" + port +
                          "?timeout=2000000'");
    ASSERT_TRUE(testsupport::waitFor([&] {
        std::string listening;
        shell(ns.execPrefix() + "ss -Hnul 'sport = :" + port + "'", &listening);
        return !listening.empty();
    }));
    std::string out;
    ASSERT_EQ(shell(ns.execPrefix() + "'" + cast() + "' -q -t " + group + ":" + port + " '" +
                        m_dir.file("clip.mp4") + "' 2>&1",
                    &out),
              0)
        << out;
    expectTheClip(probe.finish());
}

TEST_F(CastTool, NothingIsLoggedWithoutSluiceLogIni) {
    std::string out;
    ASSERT_EQ(shell("cd '" + m_dir.path() + "' && '" + cast() +
                        "' --fast -t 127.0.0.1:9 -t 127.0.0.1:0 clip.mp4 2>&1",
                    &out),
              0);
    // Only the tool's own summary: no open message, no send failures for port 0.
    EXPECT_EQ(testsupport::splitLines(out).size(), 1u) << out;
    EXPECT_EQ(out.rfind("sluice-cast: 50 video and", 0), 0u) << out;
    std::string listing;
    shell("ls -A '" + m_dir.path() + "'", &listing);
    EXPECT_EQ(listing, "clip.aac\nclip.h264\nclip.mp4\n");
}

TEST_F(CastTool, SluiceLogIniInTheWorkingDirectoryLogsToTheConsole) {
    testsupport::writeFile(m_dir.file("SluiceLog.ini"),
                           "[Console]\nEnabled=true\nLevel=debug\nFormat=time\n");
    std::string out;
    ASSERT_EQ(shell("cd '" + m_dir.path() + "' && '" + cast() +
                        "' -q --fast -l 0 -t 127.0.0.1:0 clip.mp4 2>&1",
                    &out),
              0);
    EXPECT_NE(out.find(" debug | sluice_open protocol:1, port:0\n"), std::string::npos) << out;
    EXPECT_NE(out.find(" debug | (0) addTarget. ip:127.0.0.1 port:0\n"), std::string::npos);
    EXPECT_NE(out.find(" warning | (0) sendTo 127.0.0.1:0 failed. size:"), std::string::npos);
}
