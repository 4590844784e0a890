// tools/ts-check on streams with known faults, and the multiplexer's PCR and table periods
// measured with it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ChildProcess.h"
#include "FfmpegTsMuxer.h"
#include "MediaClip.h"
#include "TestSupport.h"
#include "TsCheckReport.h"
#include "sluice.h"

using testsupport::shell;

namespace {

class CollectingSink : public av::TsMuxerSink {
public:
    void onMuxData(const uint8_t* data, size_t size, int64_t, int) override {
        bytes.append(reinterpret_cast<const char*>(data), size);
    }
    std::string bytes;
};

const auto field = sluicetest::reportField;
const auto indicator = sluicetest::reportIndicator;

std::string tsCheck() {
    return "'" + testsupport::programPath("ts-check") + "'";
}

class TsCheck : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sluicetest::makeClip(m_dir.path(), 2, 320, 240, error)) << error;
        sluicetest::ClipInfo info;
        std::vector<sluicetest::TestFrame> frames;
        ASSERT_TRUE(sluicetest::readFrames(m_dir.file("clip.mp4"), frames, info, error)) << error;
        for (int64_t rate : {int64_t{0}, kConstantRate}) {
            av::FfmpegTsMuxer muxer;
            CollectingSink sink;
            muxer.setSink(&sink);
            muxer.setMuxRate(rate);
            ASSERT_EQ(muxer.open(sluicetest::clipConfig(info)), 0);
            sluicetest::writeFrames(muxer, frames);
            muxer.close();
            ASSERT_EQ(sink.bytes.size() % 188, 0u);
            (rate == 0 ? m_ts : m_constantTs) = sink.bytes;
        }
    }

    static constexpr int64_t kConstantRate = 2'000'000;

    // ts-check --json on bytes (a stream may be absent for 1 s); its exit status and report.
    int check(const std::string& bytes, std::string& json) {
        testsupport::writeFile(m_dir.file("input.ts"), bytes);
        const int status =
            shell(tsCheck() + " --json --pid-timeout 1000 '" + m_dir.file("input.ts") + "'", &json);
        return status;
    }

    // The transport stream without the packets of one PID, or with one packet less.
    std::string withoutPid(int pid, size_t keepEvery = 0) const {
        std::string out;
        size_t seen = 0;
        for (size_t i = 0; i < m_ts.size(); i += 188) {
            const int packetPid = (m_ts[i + 1] & 0x1F) << 8 | static_cast<uint8_t>(m_ts[i + 2]);
            if (packetPid == pid && (keepEvery == 0 || ++seen % keepEvery == 0)) {
                continue;
            }
            out.append(m_ts, i, 188);
        }
        return out;
    }

    testsupport::TempDir m_dir;
    std::string m_ts;          // variable rate
    std::string m_constantTs;  // at kConstantRate
};

// The PCR of the packet in the middle of ts moved by ticks of 27 MHz.
std::string withPcrMoved(std::string ts, int64_t ticks) {
    for (size_t at = (ts.size() / 2 / 188) * 188; at + 188 <= ts.size(); at += 188) {
        auto* p = reinterpret_cast<uint8_t*>(&ts[at]);
        if ((p[3] & 0x20) == 0 || p[4] < 7 || (p[5] & 0x10) == 0) {
            continue;
        }
        const int64_t pcr =
            (static_cast<int64_t>(p[6]) << 25 | p[7] << 17 | p[8] << 9 | p[9] << 1 | p[10] >> 7) *
                300 +
            ((p[10] & 1) << 8 | p[11]) + ticks;
        const int64_t base = pcr / 300;
        const int64_t extension = pcr % 300;
        p[6] = static_cast<uint8_t>(base >> 25);
        p[7] = static_cast<uint8_t>(base >> 17);
        p[8] = static_cast<uint8_t>(base >> 9);
        p[9] = static_cast<uint8_t>(base >> 1);
        p[10] = static_cast<uint8_t>((base & 1) << 7 | 0x7E | extension >> 8);
        p[11] = static_cast<uint8_t>(extension);
        return ts;
    }
    ADD_FAILURE() << "no PCR in the second half";
    return ts;
}

}  // namespace

// PCR at most 40 ms apart and PAT/PMT at most 100 ms apart, as the multiplexer is told;
// and a clean stream passes every check.
TEST_F(TsCheck, TheMultiplexerKeepsPcrAndTablePeriods) {
    std::string json;
    ASSERT_EQ(check(m_ts, json), 0) << json;
    EXPECT_EQ(indicator(json, "priority1", "total"), 0) << json;
    EXPECT_EQ(indicator(json, "priority2", "total"), 0) << json;
    EXPECT_GT(field(json, "max_pcr_interval_ms"), 0) << json;
    EXPECT_LE(field(json, "max_pcr_interval_ms"), 40.0) << json;
    EXPECT_LE(field(json, "max_pat_interval_ms"), 100.0) << json;
    EXPECT_LE(field(json, "max_pmt_interval_ms"), 100.0) << json;
    EXPECT_GT(field(json, "seconds"), 1.5) << json;
}

// A file written at a known constant rate: ts-check finds that rate in the PCRs, every PCR
// on it (TR 101 290 2.4), and the null packets' share; one PCR moved by 1 us is an error.
// A variable stream has no nulls and its PCRs follow no single rate: figures only.
TEST_F(TsCheck, PcrAccuracyAndTransportRateOfAConstantRateFile) {
    std::string json;
    ASSERT_EQ(check(m_constantTs, json), 0) << json;
    EXPECT_EQ(indicator(json, "priority2", "total"), 0) << json;
    EXPECT_NEAR(field(json, "transport_rate_bps"), kConstantRate, kConstantRate / 1000) << json;
    EXPECT_LE(field(json, "max_pcr_accuracy_ns"), 500) << json;
    EXPECT_GT(field(json, "null_share"), 0.1) << json;

    json.clear();
    check(withPcrMoved(m_constantTs, 27), json);
    EXPECT_EQ(indicator(json, "priority2", "pcr_accuracy"), 1) << json;
    EXPECT_NEAR(field(json, "max_pcr_accuracy_ns"), 1000, 100) << json;

    json.clear();
    ASSERT_EQ(check(m_ts, json), 0) << json;
    EXPECT_EQ(indicator(json, "priority2", "pcr_accuracy"), 0) << json;
    EXPECT_EQ(field(json, "null_share"), 0) << json;
}

// Each kind of damage shows as its indicator, and priority-1 damage fails the exit status.
TEST_F(TsCheck, DamageShowsAsItsIndicator) {
    const size_t middle = (m_ts.size() / 2 / 188) * 188;
    std::string badSync = m_ts;
    badSync[middle] = 0x00;
    std::string cut = m_ts;
    cut.erase(middle + 10, 100);
    std::string transportError = m_ts;
    transportError[middle + 1] = static_cast<char>(transportError[middle + 1] | 0x80);
    const struct {
        const char* name;
        std::string bytes;
        const char* priority;
        const char* key;
        int exit;
    } cases[] = {
        {"one bad sync byte", badSync, "priority1", "sync_byte", 1},
        {"bytes cut out", cut, "priority1", "sync_loss", 1},
        {"a video packet lost", withoutPid(0x100, 50), "priority1", "continuity", 1},
        {"no PAT", withoutPid(0), "priority1", "pat", 1},
        {"no PMT", withoutPid(0x1000), "priority1", "pmt", 1},
        {"no audio", withoutPid(0x101), "priority1", "pid", 1},
        {"transport error flag", transportError, "priority2", "transport", 1},
    };
    for (const auto& c : cases) {
        std::string json;
        EXPECT_EQ(check(c.bytes, json), c.exit) << c.name << json;
        EXPECT_GE(indicator(json, c.priority, c.key), 1) << c.name << json;
    }
}

// Datagram input: ts-check listens on the port it prints, counts the datagrams, finds RTP
// sequence gaps, and reports the delivery figures.
TEST_F(TsCheck, RtpInputCountsDatagramsAndSequenceGaps) {
    testsupport::ChildProcess child;
    ASSERT_TRUE(child.start(
        {testsupport::programPath("ts-check"), "--json", "--idle", "0.5", "rtp://127.0.0.1:0"}));
    ASSERT_TRUE(child.waitForOutput("listening on udp port ", std::chrono::seconds(10)));
    const std::string said = child.output();
    const size_t at = said.find("udp port ");
    ASSERT_NE(at, std::string::npos) << said;
    const int port = std::atoi(said.c_str() + at + std::strlen("udp port "));
    ASSERT_GT(port, 0) << said;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(port));
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    uint16_t sequence = 0;
    size_t sent = 0;
    for (size_t i = 0; i < m_ts.size(); i += 1316, ++sequence) {
        if (sequence == 5) {
            continue;  // one datagram lost on the way
        }
        std::string packet("\x80\x21\x00\x00\x00\x00\x0e\x10\x00\x00\x00\x10", 12);
        packet[2] = static_cast<char>(sequence >> 8);
        packet[3] = static_cast<char>(sequence);
        packet += m_ts.substr(i, 1316);
        ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        ++sent;
    }
    ::close(fd);
    const int status = child.waitExit(std::chrono::seconds(20));
    ASSERT_TRUE(WIFEXITED(status)) << child.output();
    EXPECT_EQ(WEXITSTATUS(status), 1) << child.output();  // the lost datagram breaks continuity
    const std::string json = child.output().substr(child.output().find('{'));
    EXPECT_EQ(field(json, "datagrams"), static_cast<double>(sent)) << json;
    EXPECT_EQ(field(json, "rtp_lost"), 1) << json;
    EXPECT_GE(indicator(json, "priority1", "continuity"), 1) << json;
    EXPECT_GE(field(json, "largest_burst"), 1) << json;
    EXPECT_GE(field(json, "delay_factor_ms"), 0) << json;
}

// A source that stalls ends within --wait, --idle and --duration however it stalls: an HTTP
// server silent after the connection, after its headers, or after one chunk; a pipe whose
// writer stays but never writes.
TEST(TsCheckInput, StalledSourcesEndWithinTheirLimits) {
    const std::string headers =
        "HTTP/1.1 200 OK\r\nContent-Type: video/MP2T\r\nTransfer-Encoding: chunked\r\n\r\n";
    std::string packet(188, '\xff');
    packet[0] = 0x47;
    packet[1] = 0x1f;  // a null packet
    packet[3] = 0x10;
    const std::string answers[] = {"", headers, headers + "bc\r\n" + packet + "\r\n"};
    for (const std::string& answer : answers) {
        SCOPED_TRACE(answer.size());
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(listener, 4), 0);
        ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
        testsupport::ChildProcess child;
        ASSERT_TRUE(child.start(
            {testsupport::programPath("ts-check"), "--wait", "0.5", "--idle", "0.5", "--duration",
             "3", "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/main.ts"}));
        // The connection stays open, silent, until ts-check has ended.
        const int client = ::accept(listener, nullptr, nullptr);
        ASSERT_GE(client, 0);
        ASSERT_EQ(::send(client, answer.data(), answer.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(answer.size()));
        const int status = child.waitExit(std::chrono::seconds(20));
        EXPECT_TRUE(WIFEXITED(status)) << "still waiting: " << child.output();
        ::close(client);
        ::close(listener);
    }

    testsupport::TempDir dir;
    const std::string fifo = dir.file("stream");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int writer = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);  // open, never written
    ASSERT_GE(writer, 0);
    const int status = shell("timeout -s KILL 20 " + tsCheck() + " --wait 0.5 - < '" + fifo + "'");
    EXPECT_NE(status, 128 + SIGKILL) << "a silent pipe kept ts-check waiting";
    ::close(writer);
}
