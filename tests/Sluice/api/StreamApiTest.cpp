// The TCP and HTTP casters through the exported interface only (sluice.h and libSluice.so):
// opening on a port, ports in use, disconnecting everyone, closing and quitting.
#include <gtest/gtest.h>

#include <cerrno>

#include <string>

#include "TcpClient.h"
#include "TestSupport.h"
#include "sluice.h"

using sluicetest::TcpClient;
using testsupport::waitFor;

namespace {

const std::string kHeader =
    "HTTP/1.1 200 OK\r\nCache-Control: no-cache\r\nContent-Type: video/MP2T\r\n"
    "Transfer-Encoding: chunked\r\n\r\n";

class StreamApi : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { ASSERT_EQ(sluice_init(), 0); }
    void TearDown() override {
        for (int h = 0; h < 64; ++h) {
            sluice_close(h);
        }
        sluice_quit();
    }

    static sluice_media_format format() {
        sluice_media_format f = {};
        f.audio_codec = SLUICE_CODEC_AAC;
        f.channels = 2;
        f.sample_rate = 48000;
        f.audio_profile = 1;
        return f;
    }
    bool http() const { return GetParam() == SLUICE_PROTOCOL_HTTP; }

    /// Opens a caster of the parameter's protocol on a port of the system's choice.
    int open(int& port) {
        const sluice_media_format f = format();
        int handle = -2;
        EXPECT_EQ(sluice_open(&handle, GetParam(), 0, &f), 0);
        EXPECT_EQ(sluice_get_local_port(handle, &port), 0);
        return handle;
    }
    /// A client that gets the stream (HTTP clients ask for it first).
    std::unique_ptr<TcpClient> client(int port) {
        auto c = std::make_unique<TcpClient>(static_cast<uint16_t>(port));
        EXPECT_TRUE(c->connected());
        if (http()) {
            c->send("GET / HTTP/1.1\r\n\r\n");
            EXPECT_TRUE(c->waitForSize(kHeader.size()));
        }
        return c;
    }
    /// Writes AAC frames until the client has received transport-stream bytes.
    bool streamTo(int handle, TcpClient& c) {
        const std::string aac(200, '\x21');
        const size_t before = c.receivedSize();
        return waitFor([&] {
            sluice_media_packet p = {};
            p.type = SLUICE_PACKET_AUDIO;
            p.data = reinterpret_cast<const uint8_t*>(aac.data());
            p.size = static_cast<int32_t>(aac.size());
            p.pts = m_pts += 1024;
            sluice_write(handle, &p);
            return c.receivedSize() > before;
        });
    }

    int64_t m_pts = 0;
};

}  // namespace

TEST_P(StreamApi, StreamsOnTheGivenPortUntilRemoveAllTarget) {
    int port = 0;
    const int handle = open(port);
    ASSERT_EQ(handle, 0);
    auto c = client(port);
    ASSERT_TRUE(streamTo(handle, *c));
    // Protocol 4 answers with the HTTP header and chunks, protocol 2 sends the bare stream.
    const std::string bytes = c->received();
    size_t ts = 0;
    if (http()) {
        ASSERT_EQ(bytes.compare(0, kHeader.size(), kHeader), 0);
        ts = bytes.find("\r\n", kHeader.size()) + 2;  // after the chunk's size line
    }
    EXPECT_EQ(static_cast<uint8_t>(bytes.at(ts)), 0x47);

    // sluice_remove_all_target disconnects every client; new ones can connect afterwards.
    auto b = client(port);
    ASSERT_TRUE(streamTo(handle, *b));  // proves the caster has taken it in
    EXPECT_EQ(sluice_remove_all_target(handle), 0);
    EXPECT_TRUE(c->waitForClose());
    EXPECT_TRUE(b->waitForClose());
    auto later = client(port);
    EXPECT_TRUE(streamTo(handle, *later));
}

TEST_P(StreamApi, APortInUseGives2AndRegistersNothing) {
    const testsupport::TakenPort listening;
    const sluice_media_format f = format();
    int handle = -2;
    EXPECT_EQ(sluice_open(&handle, GetParam(), listening.port(), &f), ENOENT);
    EXPECT_EQ(handle, -2);
    int port = 0;
    EXPECT_EQ(open(port), 0);  // the first handle is still free
}

// sluice_close disconnects a caster's clients and frees its port at once; sluice_quit does
// the same for every caster still open.
TEST_P(StreamApi, CloseAndQuitDisconnectTheClientsAndFreeThePorts) {
    int port = 0;
    const int handle = open(port);
    auto c = client(port);
    ASSERT_TRUE(streamTo(handle, *c));
    int otherPort = 0;
    const int other = open(otherPort);
    auto d = client(otherPort);
    sluice_close(handle);
    EXPECT_TRUE(c->waitForClose());
    EXPECT_FALSE(d->closedByServer());
    const sluice_media_format f = format();
    int again = -2;
    EXPECT_EQ(sluice_open(&again, GetParam(), port, &f), 0);
    EXPECT_TRUE(streamTo(other, *d));
    sluice_quit();
    EXPECT_TRUE(d->waitForClose());
    for (int p : {port, otherPort}) {
        EXPECT_FALSE(TcpClient(static_cast<uint16_t>(p), 0, false).connected()) << p;
    }
}

INSTANTIATE_TEST_SUITE_P(Protocols, StreamApi,
                         ::testing::Values(SLUICE_PROTOCOL_TCP, SLUICE_PROTOCOL_HTTP),
                         [](const auto& test) {
                             return std::string(test.param == SLUICE_PROTOCOL_TCP ? "Tcp" : "Http");
                         });

// A connected client is one destination: its address and port, when it connected, and the
// blocks and bytes it was given.
TEST_P(StreamApi, EveryClientIsADestinationWithItsCounters) {
    int port = 0;
    const int handle = open(port);
    auto c = client(port);
    ASSERT_TRUE(streamTo(handle, *c));
    sluice_destination_stats records[2] = {};
    records[0].size = sizeof records[0];
    int count = -1;
    ASSERT_EQ(sluice_get_destination_stats(handle, records, 2, &count), 0);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(records[0].size, sizeof records[0]);
    EXPECT_EQ(records[0].protocol, GetParam());
    EXPECT_EQ(std::string(records[0].address) + ":" + std::to_string(records[0].port), c->name());
    EXPECT_GT(records[0].connected_since_us, 1'600'000'000'000'000LL);  // a wall-clock time
    EXPECT_GE(records[0].datagrams, 1u);
    EXPECT_GE(records[0].bytes, records[0].datagrams * 188);
    EXPECT_EQ(records[0].send_errors, 0u);
    EXPECT_EQ(records[0].dropped, 0u);
    EXPECT_EQ(records[0].jam_episodes, 0u);
    EXPECT_EQ(records[0].transport_valid, 0u);
}
