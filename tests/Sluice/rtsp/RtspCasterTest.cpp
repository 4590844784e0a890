// The RTSP caster with clients we did not write (ffprobe, ffmpeg, GStreamer) and with raw
// requests on loopback: both transports and codecs, paths on a shared port, digest
// authentication and its replays, session lifetimes and the limits that protect the server.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Background.h"
#include "Feeder.h"
#include "MediaClip.h"
#include "RtspDigestAuth.h"
#include "RtspTsMediaCaster.h"
#include "TcpClient.h"
#include "TestSupport.h"

using av::RtspTsMediaCaster;
using sluicetest::Feeder;
using sluicetest::TcpClient;
using testsupport::waitFor;

namespace {

struct Clip {
    std::vector<sluicetest::TestFrame> frames;
    sluicetest::ClipInfo info;
    av::MediaCasterConfig config;
};

testsupport::TempDir& clipDir() {
    static testsupport::TempDir dir;
    return dir;
}

// The clips are made once for the whole suite: ffmpeg takes a moment.
const Clip& clip(bool h265) {
    testsupport::TempDir& dir = clipDir();
    static Clip clips[2];
    Clip& c = clips[h265 ? 1 : 0];
    if (c.frames.empty()) {
        std::string error;
        if (!h265) {
            EXPECT_TRUE(sluicetest::makeClip(dir.path(), 2, 320, 240, error)) << error;
            EXPECT_TRUE(sluicetest::readFrames(dir.file("clip.mp4"), c.frames, c.info, error))
                << error;
        } else {
            const std::string cmd =
                "ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -f lavfi -i "
                "sine=frequency=440:sample_rate=48000 -t 2 -c:v libx265 -preset ultrafast "
                "-x265-params log-level=none:keyint=25:bframes=0 -pix_fmt yuv420p -c:a aac -ac 2 "
                "'" +
                dir.file("hevc.mp4") + "' 2>&1";
            EXPECT_EQ(testsupport::shell(cmd, &error), 0) << error;
            EXPECT_TRUE(sluicetest::readFrames(dir.file("hevc.mp4"), c.frames, c.info, error))
                << error;
        }
        c.config = sluicetest::clipConfig(c.info);
        if (h265) {
            c.config.videoCodec = SLUICE_CODEC_H265;
        }
    }
    return c;
}

/// One answer read from a connection that may also carry interleaved RTP.
struct Answer {
    int status = 0;
    std::string head;
    std::string body;
    /// The value of a header (name matched without regard to case), empty when absent.
    std::string header(const std::string& name) const {
        std::string lower = head;
        std::string key = "\r\n" + name + ": ";
        for (std::string* text : {&lower, &key}) {
            for (char& c : *text) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
        }
        const size_t at = lower.find(key);
        if (at == std::string::npos) {
            return std::string();
        }
        const size_t from = at + key.size();
        return head.substr(from, head.find("\r\n", from) - from);
    }
};

/// A hand-driven RTSP client: requests with a rising CSeq, answers picked out of the bytes.
class RawClient {
public:
    explicit RawClient(uint16_t port, int receiveBuffer = 0)
        : m_port(port), m_tcp(port, receiveBuffer) {}

    Answer request(const std::string& method, const std::string& uri,
                   const std::string& headers = std::string()) {
        const size_t from = m_tcp.receivedSize();
        const std::string cseq = std::to_string(++m_cseq);
        m_tcp.send(method + " " + uri + " RTSP/1.0\r\nCSeq: " + cseq + "\r\n" + headers + "\r\n");
        Answer answer;
        waitFor([&] { return parse(from, cseq, answer); });
        return answer;
    }
    std::string url(const std::string& path) const {
        return "rtsp://127.0.0.1:" + std::to_string(m_port) + path;
    }
    TcpClient& tcp() { return m_tcp; }

private:
    bool parse(size_t from, const std::string& cseq, Answer& answer) {
        const std::string all = m_tcp.received();
        for (size_t at = all.find("RTSP/1.0 ", from); at != std::string::npos;
             at = all.find("RTSP/1.0 ", at + 1)) {
            const size_t end = all.find("\r\n\r\n", at);
            if (end == std::string::npos) {
                return false;
            }
            const std::string head = all.substr(at, end + 2 - at);
            if (head.find("\r\nCSeq: " + cseq + "\r\n") == std::string::npos) {
                continue;
            }
            answer.head = head;
            answer.status = std::atoi(head.c_str() + 9);
            const std::string length = answer.header("Content-Length");
            const size_t bodySize = length.empty() ? 0 : std::stoul(length);
            if (all.size() < end + 4 + bodySize) {
                return false;
            }
            answer.body = all.substr(end + 4, bodySize);
            return true;
        }
        return false;
    }

    uint16_t m_port;
    TcpClient m_tcp;
    int m_cseq = 0;
};

std::string sessionOf(const Answer& answer) {
    const std::string value = answer.header("Session");
    return value.substr(0, value.find(';'));
}

// Sets up every track of path over TCP and plays; the session id.
std::string playTcp(RawClient& client, const std::string& path, int tracks = 2) {
    std::string session;
    for (int track = 0; track < tracks; ++track) {
        const Answer setup = client.request(
            "SETUP", client.url(path + "/trackID=" + std::to_string(track)),
            "Transport: RTP/AVP/TCP;unicast;interleaved=" + std::to_string(track * 2) + "-" +
                std::to_string(track * 2 + 1) + "\r\n" +
                (session.empty() ? "" : "Session: " + session + "\r\n"));
        EXPECT_EQ(setup.status, 200) << setup.head;
        session = sessionOf(setup);
    }
    EXPECT_EQ(client.request("PLAY", client.url(path), "Session: " + session + "\r\n").status, 200);
    return session;
}

class RtspCaster : public ::testing::Test {
protected:
    void open(RtspTsMediaCaster& caster, bool h265 = false, uint16_t port = 0) {
        ASSERT_EQ(caster.open("", port, clip(h265).config), 0);
    }
    std::string ffprobe(uint16_t port, const std::string& path, const std::string& transport,
                        const std::string& credentials = std::string()) {
        std::string output;
        testsupport::shell("timeout 30 ffprobe -v error -rtsp_transport " + transport +
                               " -show_streams -of compact 'rtsp://" + credentials +
                               "127.0.0.1:" + std::to_string(port) + path + "' 2>&1",
                           &output);
        return output;
    }
};

}  // namespace

// What a player sees: ffprobe over TCP and UDP finds the configured codec, size and AAC.
TEST_F(RtspCaster, FfprobeReadsTheStreamOverTcpAndUdp) {
    for (const bool h265 : {false, true}) {
        RtspTsMediaCaster caster;
        open(caster, h265);
        ASSERT_EQ(caster.setOption("path", "/main"), 0);
        Feeder feeder(caster, clip(h265).frames);
        for (const char* transport : {"tcp", "udp"}) {
            const std::string output = ffprobe(caster.port(), "/main", transport);
            const auto streams = sluicetest::ffprobeEntries(output, "stream");
            ASSERT_EQ(streams.size(), 2u) << transport << " h265 " << h265 << ": " << output;
            auto video = streams[0].at("codec_type") == "video" ? streams[0] : streams[1];
            auto audio = streams[0].at("codec_type") == "audio" ? streams[0] : streams[1];
            EXPECT_EQ(video["codec_name"], h265 ? "hevc" : "h264") << transport;
            EXPECT_EQ(video["width"], std::to_string(clip(h265).info.width)) << transport;
            EXPECT_EQ(video["height"], std::to_string(clip(h265).info.height)) << transport;
            EXPECT_EQ(audio["codec_name"], "aac") << transport;
            EXPECT_EQ(audio["sample_rate"], "48000") << transport;
            EXPECT_EQ(audio["channels"], "2") << transport;
        }
    }
}

// Main and sub stream on one port under their own paths; a path is served once.
TEST_F(RtspCaster, TwoPathsShareOnePortAndAPathIsTakenOnce) {
    RtspTsMediaCaster main;
    RtspTsMediaCaster sub;
    RtspTsMediaCaster third;
    open(main);
    ASSERT_EQ(main.setOption("path", "/main"), 0);
    open(sub, true, main.port());
    EXPECT_EQ(sub.port(), main.port());
    EXPECT_EQ(sub.setOption("path", "/main"), EEXIST);
    ASSERT_EQ(sub.setOption("path", "/sub"), 0);
    open(third, false, main.port());  // "/" is free again
    EXPECT_EQ(third.setOption("path", "/sub/"), EEXIST);
    // "/" is the third's: the fourth waits for a path of its own.
    RtspTsMediaCaster fourth;
    ASSERT_EQ(fourth.open("", main.port(), clip(false).config), 0);
    EXPECT_EQ(fourth.setOption("path", "/"), EEXIST);
    EXPECT_EQ(fourth.setOption("path", "/fourth"), 0);
    RawClient client(main.port());
    const Answer a = client.request("DESCRIBE", client.url("/main"));
    const Answer b = client.request("DESCRIBE", client.url("/sub"));
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(a.body.find("H264/90000"), std::string::npos) << a.body;
    EXPECT_NE(b.body.find("H265/90000"), std::string::npos) << b.body;
    EXPECT_EQ(b.header("Content-Base"), client.url("/sub/"));
    EXPECT_EQ(client.request("DESCRIBE", client.url("/other")).status, 404);
    EXPECT_EQ(
        client.request("SETUP", client.url("/main/trackID=0"), "Transport: RTP/AVP;multicast\r\n")
            .status,
        461);  // no group set for the stream
    EXPECT_EQ(client.request("DESCRIBE", client.url("/fourth")).status, 200);
    // Closing the first caster of the port leaves the server to the others.
    main.close();
    EXPECT_EQ(client.request("DESCRIBE", client.url("/main")).status, 404);
    EXPECT_EQ(client.request("DESCRIBE", client.url("/sub")).status, 200);
}

// The streams of one port change their settings from their own threads at once: every
// call returns after its change is made, never before (a caller's arguments live on its stack).
TEST_F(RtspCaster, StreamsOfOnePortChangeSettingsAtOnce) {
    std::vector<std::unique_ptr<RtspTsMediaCaster>> casters;
    for (int i = 0; i < 4; ++i) {
        casters.push_back(std::make_unique<RtspTsMediaCaster>());
        open(*casters.back(), false, i == 0 ? 0 : casters.front()->port());
        ASSERT_EQ(casters.back()->setOption("path", "/s" + std::to_string(i)), 0);
    }
    // A path another stream holds is refused, which a call that returned early cannot know.
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&failures, i, c = casters[i].get()] {
            const std::string own = "/s" + std::to_string(i);
            for (int n = 0; n < 400; ++n) {
                if (i == 0) {
                    failures += c->setOption("session_timeout", std::to_string(1 + n % 60)) != 0;
                } else {
                    failures += c->setOption("path", "/s0") != EEXIST;
                    failures += c->setOption("path", own) != 0;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    RawClient client(casters.front()->port());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(client.request("DESCRIBE", client.url("/s" + std::to_string(i))).status, 200);
    }
}

// A session is in the per-destination records from SETUP to TEARDOWN, and not a moment
// longer; both transports, with what was sent and what the client reported.
TEST_F(RtspCaster, SessionsAreDestinationsUntilTeardown) {
    RtspTsMediaCaster caster;
    open(caster);
    Feeder feeder(caster, clip(false).frames);
    RawClient tcp(caster.port());
    const std::string tcpSession = playTcp(tcp, "");
    RawClient udp(caster.port());
    const Answer setup = udp.request("SETUP", udp.url("/trackID=1"),
                                     "Transport: RTP/AVP;unicast;client_port=40000-40001\r\n");
    ASSERT_EQ(setup.status, 200) << setup.head;
    EXPECT_NE(setup.header("Transport").find("server_port="), std::string::npos);
    EXPECT_NE(setup.header("Session").find(";timeout=60"), std::string::npos);
    ASSERT_TRUE(waitFor([&] { return caster.destinationStats().size() == 2; }));
    ASSERT_TRUE(waitFor([&] {
        const auto rows = caster.destinationStats();
        return rows[0].counters.datagrams + rows[1].counters.datagrams > 20;
    }));
    int tcpRows = 0;
    for (const auto& row : caster.destinationStats()) {
        EXPECT_EQ(row.address, "127.0.0.1");
        EXPECT_GT(row.connectedSinceUs, 0);
        if (row.rtspTransport == SLUICE_RTSP_TRANSPORT_TCP) {
            ++tcpRows;
            EXPECT_GT(row.counters.datagrams, 0u);
        } else {
            EXPECT_EQ(row.port, 40000);
            EXPECT_EQ(row.rtcpPort, 40001);
            EXPECT_EQ(row.counters.datagrams, 0u);  // not playing yet
        }
    }
    EXPECT_EQ(tcpRows, 1);
    EXPECT_EQ(tcp.request("TEARDOWN", tcp.url(""), "Session: " + tcpSession + "\r\n").status, 200);
    EXPECT_EQ(caster.destinationStats().size(), 1u);
    // Another connection cannot use or end a session it did not make.
    EXPECT_EQ(tcp.request("TEARDOWN", tcp.url(""), "Session: " + sessionOf(setup) + "\r\n").status,
              454);
    EXPECT_EQ(caster.destinationStats().size(), 1u);
    udp.tcp().close(true);  // the client vanishes
    EXPECT_TRUE(waitFor([&] { return caster.destinationStats().empty(); }));
}

namespace {

const std::string kRealm = "HttpServer";

// The Authorization header a client computes from a challenge.
std::string digest(const Answer& challenge, const std::string& method, const std::string& uri,
                   const std::string& password, const std::string& nc = std::string()) {
    const std::string text = challenge.header("WWW-Authenticate");
    const size_t at = text.find("nonce=\"") + 7;
    const std::string nonce = text.substr(at, text.find('"', at) - at);
    using av::RtspDigestAuth;
    const std::string ha1 = RtspDigestAuth::md5Hex("admin:" + kRealm + ":" + password);
    const std::string ha2 = RtspDigestAuth::md5Hex(method + ":" + uri);
    std::string header = "Authorization: Digest username=\"admin\", realm=\"" + kRealm +
                         "\", nonce=\"" + nonce + "\", uri=\"" + uri + "\", response=\"";
    if (nc.empty()) {
        return header + RtspDigestAuth::md5Hex(ha1 + ":" + nonce + ":" + ha2) + "\"\r\n";
    }
    return header + RtspDigestAuth::md5Hex(ha1 + ":" + nonce + ":" + nc + ":c0ffee:auth:" + ha2) +
           "\", qop=auth, nc=" + nc + ", cnonce=\"c0ffee\"\r\n";
}

class RtspAuth : public RtspCaster {
protected:
    void SetUp() override {
        open(m_caster);
        ASSERT_EQ(m_caster.setOption("path", "/main"), 0);
        testsupport::writeFile(
            m_dir.file("user.htpasswd"),
            "admin:" + kRealm + ":" + av::RtspDigestAuth::md5Hex("admin:" + kRealm + ":secret"));
        ASSERT_EQ(m_caster.setOption("auth_file", m_dir.file("user.htpasswd")), 0);
    }
    testsupport::TempDir m_dir;
    RtspTsMediaCaster m_caster;
};

}  // namespace

// Every request but OPTIONS needs the credentials; a wrong or missing answer gets a fresh
// challenge, and neither a repeated request count nor another connection's nonce passes.
TEST_F(RtspAuth, DigestIsRequiredAndReplaysAreRefused) {
    RawClient client(m_caster.port());
    const std::string uri = client.url("/main");
    EXPECT_EQ(client.request("OPTIONS", uri).status, 200);
    const Answer challenge = client.request("DESCRIBE", uri);
    ASSERT_EQ(challenge.status, 401);
    EXPECT_EQ(challenge.header("WWW-Authenticate").rfind("Digest realm=\"HttpServer\", nonce=", 0),
              0u)
        << challenge.head;
    EXPECT_EQ(challenge.body, "");
    struct Case {
        std::string authorization;
        int status;
    };
    const std::string good = digest(challenge, "DESCRIBE", uri, "secret", "00000001");
    const Case cases[] = {
        {digest(challenge, "DESCRIBE", uri, "wrong", "00000001"), 401},
        {digest(challenge, "DESCRIBE", uri + "x", "secret", "00000001"), 401},  // uri differs
        {digest(challenge, "DESCRIBE", uri, "secret", "00000001"),
         401},  // answered a 401: new nonce
    };
    for (const Case& c : cases) {
        EXPECT_EQ(client.request("DESCRIBE", uri, c.authorization).status, c.status)
            << c.authorization;
    }
    // Each 401 above issued a new nonce: answer the latest.
    const Answer fresh = client.request("DESCRIBE", uri);
    const std::string first = digest(fresh, "DESCRIBE", uri, "secret", "00000001");
    EXPECT_EQ(client.request("DESCRIBE", uri, first).status, 200);
    EXPECT_EQ(client.request("DESCRIBE", uri, first).status, 401);  // the same count again
    const Answer again = client.request("DESCRIBE", uri);
    EXPECT_EQ(client.request("DESCRIBE", uri, digest(again, "DESCRIBE", uri, "secret")).status,
              200);  // RFC 2069 style
    const std::string replayed = digest(again, "DESCRIBE", uri, "secret", "00000005");
    RawClient other(m_caster.port());
    ASSERT_EQ(other.request("DESCRIBE", uri).status, 401);
    EXPECT_EQ(other.request("DESCRIBE", uri, replayed).status, 401);  // not its nonce
    EXPECT_EQ(client.request("DESCRIBE", uri, replayed).status, 200);
}

// Clients we did not write: ffprobe answers with qop=auth, GStreamer's rtspsrc without.
TEST_F(RtspAuth, FfprobeAndGstreamerLogIn) {
    Feeder feeder(m_caster, clip(false).frames);
    const auto streams = sluicetest::ffprobeEntries(
        ffprobe(m_caster.port(), "/main", "tcp", "admin:secret@"), "stream");
    EXPECT_EQ(streams.size(), 2u);
    EXPECT_TRUE(ffprobe(m_caster.port(), "/main", "tcp", "admin:wrong@").find("401") !=
                std::string::npos);
    std::string output;
    const int status = testsupport::shell(
        "timeout 60 gst-launch-1.0 -q rtspsrc location=rtsp://127.0.0.1:" +
            std::to_string(m_caster.port()) +
            "/main user-id=admin user-pw=secret ! rtph264depay ! h264parse ! fakesink "
            "num-buffers=300 2>&1",
        &output);
    EXPECT_EQ(status, 0) << output;
}

namespace {

// The row of the session whose client has the given RTSP connection port (TCP sessions).
const av::DestinationStats* rowOf(const std::vector<av::DestinationStats>& rows, int port) {
    for (const auto& row : rows) {
        if (row.port == port) {
            return &row;
        }
    }
    return nullptr;
}

int localPort(const TcpClient& client) {
    const std::string name = client.name();
    return std::atoi(name.c_str() + name.rfind(':') + 1);
}

// Writes the clip `times` over, as fast as the server takes it in (a few milliseconds apart).
void burst(av::TsMediaCaster& caster, const std::vector<sluicetest::TestFrame>& frames, int times) {
    const int64_t length = frames.back().ptsUs + 40000;
    for (int i = 0; i < times; ++i) {
        for (const auto& f : frames) {
            caster.write(f.type, reinterpret_cast<const uint8_t*>(f.bytes.data()),
                         static_cast<int>(f.bytes.size()), f.ptsUs + i * length, 0, 0);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    }
}

}  // namespace

// A TCP client that stops reading is jammed: it loses whole frames, its backlog stays
// bounded, and the client beside it gets every packet.
TEST_F(RtspCaster, AClientThatStopsReadingLosesWholeFramesAlone) {
    RtspTsMediaCaster caster;
    open(caster);
    RawClient reading(caster.port());
    RawClient stalled(caster.port(), 4096);
    playTcp(reading, "");
    playTcp(stalled, "");
    stalled.tcp().pause();
    burst(caster, clip(false).frames, 40);
    const auto rows = caster.destinationStats();
    ASSERT_EQ(rows.size(), 2u);
    const av::DestinationStats* jammed = rowOf(rows, localPort(stalled.tcp()));
    const av::DestinationStats* fine = rowOf(rows, localPort(reading.tcp()));
    ASSERT_TRUE(jammed != nullptr && fine != nullptr);
    EXPECT_GE(jammed->counters.jamEpisodes, 1u);
    EXPECT_GT(jammed->counters.dropped, 0u);
    size_t largest = 0;
    for (const auto& f : clip(false).frames) {
        largest = std::max(largest, f.bytes.size());
    }
    EXPECT_LE(jammed->counters.backlogBytes, av::RtspSession::kMaxBacklog + 2 * largest);
    EXPECT_EQ(fine->counters.dropped, 0u);
    EXPECT_EQ(fine->counters.jamEpisodes, 0u);
    EXPECT_GT(fine->counters.datagrams, jammed->counters.datagrams);
    // The reading client's bytes are whole interleaved packets: '$', channel, length.
    ASSERT_TRUE(waitFor([&] { return reading.tcp().receivedSize() >= fine->counters.bytes; }));
    const std::string bytes = reading.tcp().received();
    size_t at = bytes.find('$');
    size_t packets = 0;
    while (at + 4 <= bytes.size() && bytes[at] == '$') {
        at += 4 + (static_cast<uint8_t>(bytes[at + 2]) << 8 | static_cast<uint8_t>(bytes[at + 3]));
        ++packets;
    }
    EXPECT_EQ(at, bytes.size());
    EXPECT_GE(packets, fine->counters.datagrams);  // plus the sender reports
}

// Garbage, an oversized request, a request that never ends and one connection too many
// from one address are all closed; the playing client goes on.
TEST_F(RtspCaster, BadClientsAreClosedAndDisturbNobody) {
    RtspTsMediaCaster caster;
    open(caster);
    caster.server()->setRequestTimeoutMs(300);
    Feeder feeder(caster, clip(false).frames);
    RawClient playing(caster.port());
    const std::string session = playTcp(playing, "");
    TcpClient garbage(caster.port());
    TcpClient huge(caster.port());
    TcpClient unfinished(caster.port());
    garbage.send("\x16\x03\x01\x02\x01 not rtsp\r\n\r\n");
    huge.send("DESCRIBE / RTSP/1.0\r\nCSeq: 1\r\nX: " + std::string(9000, 'a'));
    unfinished.send("DESCRIBE / RTSP/1.0\r\nCSeq: 1\r\n");
    EXPECT_TRUE(garbage.waitForClose());
    EXPECT_EQ(garbage.received().rfind("RTSP/1.0 400 Bad Request\r\n", 0), 0u);
    EXPECT_TRUE(huge.waitForClose());
    EXPECT_EQ(huge.received().rfind("RTSP/1.0 413 ", 0), 0u);
    EXPECT_TRUE(unfinished.waitForClose());
    // 16 connections from one address at most: the playing one and 15 more.
    std::vector<std::unique_ptr<TcpClient>> many;
    for (int i = 0; i < 16; ++i) {
        many.push_back(std::make_unique<TcpClient>(caster.port()));
    }
    EXPECT_TRUE(many.back()->waitForClose());
    EXPECT_FALSE(many.front()->closedByServer());
    many.clear();
    EXPECT_EQ(
        playing.request("GET_PARAMETER", playing.url(""), "Session: " + session + "\r\n").status,
        200);
    const auto rows = caster.destinationStats();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].counters.dropped, 0u);
    EXPECT_GT(rows[0].counters.datagrams, 0u);
}

// A session without RTSP requests or RTCP ends after the time-out, UDP and TCP alike, and so
// does a connection without a session; the session limit refuses further SETUPs until then.
TEST_F(RtspCaster, SessionsTimeOutAndTheLimitHolds) {
    RtspTsMediaCaster caster;
    open(caster);
    ASSERT_EQ(caster.setOption("session_timeout", "1"), 0);
    ASSERT_EQ(caster.setOption("max_sessions", "2"), 0);
    EXPECT_EQ(caster.setOption("max_sessions", "0"), EINVAL);
    EXPECT_EQ(caster.setOption("session_timeout", "x"), EINVAL);
    RawClient udp(caster.port());
    const Answer setup = udp.request("SETUP", udp.url("/trackID=0"),
                                     "Transport: RTP/AVP;unicast;client_port=40002-40003\r\n");
    ASSERT_EQ(setup.status, 200);
    EXPECT_NE(setup.header("Session").find(";timeout=1"), std::string::npos);
    RawClient tcp(caster.port());
    playTcp(tcp, "");
    RawClient third(caster.port());
    EXPECT_EQ(third
                  .request("SETUP", third.url("/trackID=0"),
                           "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n")
                  .status,
              453);
    EXPECT_EQ(caster.destinationStats().size(), 2u);
    EXPECT_TRUE(waitFor([&] { return caster.destinationStats().empty(); }));
    EXPECT_TRUE(third.tcp().waitForClose());  // no session, nothing said for a second
    RawClient fourth(caster.port());
    EXPECT_EQ(fourth
                  .request("SETUP", fourth.url("/trackID=0"),
                           "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n")
                  .status,
              200);
}

// Sixteen players at once, half over TCP and half over UDP, each remuxed by ffmpeg into a
// transport stream that ts-check finds free of priority-1 errors.
TEST_F(RtspCaster, SixteenClientsRemuxCleanly) {
    RtspTsMediaCaster caster;
    open(caster);
    Feeder feeder(caster, clip(false).frames);
    testsupport::TempDir dir;
    std::vector<std::unique_ptr<sluicetest::Background>> clients;
    for (int i = 0; i < 16; ++i) {
        const std::string out = dir.file("out" + std::to_string(i) + ".ts");
        clients.push_back(std::make_unique<sluicetest::Background>(
            "timeout 30 ffmpeg -v error -rtsp_transport " + std::string(i % 2 ? "udp" : "tcp") +
            " -i rtsp://127.0.0.1:" + std::to_string(caster.port()) +
            "/ -c copy -t 6 -f mpegts -y '" + out + "'"));
    }
    EXPECT_TRUE(
        waitFor([&] { return caster.destinationStats().size() == 16; }, std::chrono::seconds(20)));
    // The players' RTCP receiver reports arrive and are counted, with loss and jitter.
    EXPECT_TRUE(waitFor(
        [&] {
            for (const auto& row : caster.destinationStats()) {
                if (row.receiverReports > 0 && row.hasReceiverReport) {
                    return true;
                }
            }
            return false;
        },
        std::chrono::seconds(20)));
    for (auto& client : clients) {
        EXPECT_EQ(client->finish(), 0) << client->output();
    }
    for (int i = 0; i < 16; ++i) {
        const std::string out = dir.file("out" + std::to_string(i) + ".ts");
        std::string report;
        EXPECT_EQ(testsupport::shell(
                      "'" + testsupport::programPath("ts-check") + "' '" + out + "' 2>&1", &report),
                  0)
            << report;
        EXPECT_GT(testsupport::readFile(out).size(), 50000u);
    }
}

// Multicast clients listen to one sender per stream; inside a private network namespace,
// where the group has a route, ffprobe reads the stream that way (sluice-cast serves it).
TEST_F(RtspCaster, MulticastClientsShareOneSender) {
    testsupport::NetNamespace ns;
    if (!ns.ok()) {
        GTEST_SKIP() << ns.reason();
    }
    clip(false);
    // A fresh namespace: nothing else has a port there.
    sluicetest::Background cast(
        ns.execPrefix() + "'" + testsupport::programPath("sluice-cast") +
        "' -p rtsp -l 8554 -o multicast=239.7.7.7:5004 -o multicast_ttl=2 --loop 0 '" +
        clipDir().file("clip.mp4") + "'");
    const std::string probe = ns.execPrefix() +
                              "timeout 30 ffprobe -v error -rtsp_transport udp_multicast "
                              "-show_streams -of compact rtsp://127.0.0.1:8554/ 2>&1";
    std::string output;
    ASSERT_TRUE(waitFor(
        [&] {
            testsupport::shell(probe, &output);
            return output.find("codec_name=h264") != std::string::npos;
        },
        std::chrono::seconds(40), std::chrono::milliseconds(200)))
        << output << cast.output();
    const auto streams = sluicetest::ffprobeEntries(output, "stream");
    ASSERT_EQ(streams.size(), 2u) << output;
    EXPECT_NE(output.find("width=320"), std::string::npos);
    EXPECT_NE(output.find("codec_name=aac"), std::string::npos);
}
