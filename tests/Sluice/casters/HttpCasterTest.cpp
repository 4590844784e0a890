// The HTTP caster with real clients on loopback: the response header, the chunk framing,
// which messages start a stream, requests split over reads, repeated requests, garbage and
// silent clients. (Requests in pieces of every size: HttpParserTest.)
#include <gtest/gtest.h>

#include <string>

#include "HttpTsMediaCaster.h"
#include "InspectableCaster.h"
#include "LibrarySettings.h"
#include "LogCapture.h"
#include "StreamBlocks.h"
#include "TcpClient.h"
#include "TestSupport.h"

using av::HttpTsMediaCaster;
using sluicetest::kBlockSize;
using sluicetest::numberedBlock;
using sluicetest::TcpClient;
using testsupport::waitFor;

namespace {

const std::string kHeader =
    "HTTP/1.1 200 OK\r\nCache-Control: no-cache\r\nContent-Type: video/MP2T\r\n"
    "Transfer-Encoding: chunked\r\n\r\n";

std::string chunk(uint32_t number) {
    return "524\r\n" + numberedBlock(number) + "\r\n";  // 0x524 = 1316
}

std::string chunks(uint32_t first, uint32_t end) {
    std::string all;
    for (uint32_t n = first; n < end; ++n) {
        all += chunk(n);
    }
    return all;
}

class HttpCaster : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(m_caster.open("127.0.0.1", 0, sluicetest::audioOnlyConfig()), 0);
    }

    void feed(uint32_t first, uint32_t end) {
        for (uint32_t n = first; n < end; ++n) {
            const std::string block = numberedBlock(n);
            m_caster.onMuxData(reinterpret_cast<const uint8_t*>(block.data()), block.size(), 0, 0);
        }
    }
    bool waitForClients(size_t count) {
        return waitFor([&] { return m_caster.connectionCount() == count; });
    }
    /// Sends the message and waits until the response header has come back.
    static bool request(TcpClient& client, const std::string& message) {
        const size_t before = client.receivedSize();
        return client.send(message) && client.waitForSize(before + kHeader.size());
    }

    /// Sends bytes and waits until the caster has read and handled them.
    bool sendHandled(TcpClient& client, const std::string& bytes) {
        return client.send(bytes) &&
               waitFor([&] { return client.unsent() == 0 && m_caster.unreadInput() == 0; });
    }

    sluicetest::InspectableCaster<HttpTsMediaCaster> m_caster;
};

}  // namespace

TEST_F(HttpCaster, AnyCompleteMessageStartsTheStream) {
    const char* messages[] = {
        "GET /live/stream.ts?token=1 HTTP/1.1\r\nHost: camera\r\nUser-Agent: x\r\n\r\n",
        "POST /anything HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello",
        "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n",  // even a response
        "OPTIONS * HTTP/1.1\r\n\r\n",
    };
    for (const char* message : messages) {
        TcpClient client(m_caster.port());
        ASSERT_TRUE(request(client, message)) << message;
        feed(0, 1);
        ASSERT_TRUE(client.waitForSize(kHeader.size() + kBlockSize + 7)) << message;
        EXPECT_EQ(client.received(), kHeader + chunk(0)) << message;
    }
}

// A client that has not sent a complete message (here: no empty line yet) gets nothing while
// others stream; once its message is complete, the header comes first, no earlier chunk.
TEST_F(HttpCaster, AClientWithoutACompleteMessageGetsNothingWhileOthersStream) {
    TcpClient silent(m_caster.port());
    TcpClient a(m_caster.port());
    TcpClient b(m_caster.port());
    ASSERT_TRUE(waitForClients(3));
    ASSERT_TRUE(silent.send("GET / HTTP/1.1\r\nHost: x\r\n"));
    ASSERT_TRUE(request(a, "GET / HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(request(b, "GET /other HTTP/1.1\r\n\r\n"));
    feed(0, 20);
    ASSERT_TRUE(a.waitForSize(kHeader.size() + 20 * (kBlockSize + 7)));
    ASSERT_TRUE(b.waitForSize(kHeader.size() + 20 * (kBlockSize + 7)));
    EXPECT_EQ(a.received(), kHeader + chunks(0, 20));
    EXPECT_EQ(b.received(), a.received());
    EXPECT_EQ(silent.receivedSize(), 0u);
    EXPECT_FALSE(silent.closedByServer());
    EXPECT_EQ(m_caster.connectionCount(), 3u);
    ASSERT_TRUE(request(silent, "\r\n"));
    feed(20, 21);
    ASSERT_TRUE(silent.waitForSize(kHeader.size() + kBlockSize + 7));
    EXPECT_EQ(silent.received(), kHeader + chunk(20));
}

// A client that has not completed a request within the time-out is closed, whether it said
// nothing or only part of a request; a streaming client is never timed out.
TEST_F(HttpCaster, AClientWithoutACompleteRequestInTimeIsClosed) {
    sluicetest::LogCapture log;
    TcpClient streaming(m_caster.port());
    ASSERT_TRUE(request(streaming, "GET / HTTP/1.1\r\n\r\n"));
    m_caster.setRequestTimeout(200);  // for the clients that connect from now on
    TcpClient silent(m_caster.port());
    TcpClient partial(m_caster.port());
    ASSERT_TRUE(partial.send("GET / HTTP/1.1\r\nHost: x\r\n"));
    EXPECT_TRUE(silent.waitForClose());
    EXPECT_TRUE(partial.waitForClose());
    EXPECT_EQ(silent.receivedSize(), 0u);
    EXPECT_EQ(partial.receivedSize(), 0u);
    ASSERT_TRUE(waitForClients(1));
    EXPECT_EQ(
        log.count("HttpMediaCasterConnection(" + silent.name() + ") no request within 200 ms\n"),
        1u);
    feed(0, 3);
    ASSERT_TRUE(streaming.waitForSize(kHeader.size() + 3 * (kBlockSize + 7)));
    EXPECT_EQ(streaming.received(), kHeader + chunks(0, 3));
    EXPECT_FALSE(streaming.closedByServer());
}

// The exact header, then one chunk per block ("524" CR LF, the 1316 bytes, CR LF). Whatever
// the client sends afterwards is discarded: thousands of repeated requests from a client that
// does not read queue nothing for it (before, each queued another header, without limit).
TEST_F(HttpCaster, AfterTheFirstRequestFurtherRequestsQueueNothing) {
    // Small socket buffers: what is queued for the client stays in the caster, where it counts.
    const int oldSendBuffer = av::LibrarySettings::sendBufferSize();
    av::LibrarySettings::setSendBufferSize(8192);
    TcpClient client(m_caster.port(), 4096);
    ASSERT_TRUE(request(client, "GET / HTTP/1.1\r\n\r\n"));
    av::LibrarySettings::setSendBufferSize(oldSendBuffer);
    EXPECT_EQ(client.received(), kHeader);
    feed(0, 2);
    ASSERT_TRUE(client.waitForSize(kHeader.size() + 2 * (kBlockSize + 7)));
    client.pause();
    std::string requests;
    for (int i = 0; i < 20000; ++i) {
        requests += "GET / HTTP/1.1\r\n\r\n";
    }
    ASSERT_TRUE(sendHandled(client, requests));
    const auto stats = m_caster.destinationStats();
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(stats[0].counters.backlogBytes, 0u);
    client.resume();
    feed(2, 4);
    ASSERT_TRUE(client.waitForSize(kHeader.size() + 4 * (kBlockSize + 7)));
    EXPECT_EQ(client.received(), kHeader + chunks(0, 4));
    EXPECT_FALSE(client.closedByServer());
}

// Garbage is logged once per episode ("parse return 0" when it starts, the number of
// unparsable reads when a request ends it); the client can still ask, and what it sends
// once streaming is not even parsed.
TEST_F(HttpCaster, GarbageIsLoggedOncePerEpisodeAndTheClientCanStillAsk) {
    sluicetest::LogCapture log;
    TcpClient client(m_caster.port());
    ASSERT_TRUE(waitForClients(1));
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(sendHandled(client, "\x01\x02 not http\r\n"));
    }
    EXPECT_EQ(log.starting("parse return 0. buffer size: ").size(), 1u);
    EXPECT_FALSE(client.closedByServer());
    ASSERT_TRUE(request(client, "GET / HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.received(), kHeader);
    const std::string summary =
        "HttpMediaCasterConnection(" + client.name() + ") 4 reads could not be parsed\n";
    EXPECT_EQ(log.count(summary), 1u);
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(sendHandled(client, "\x01\x02 not http\r\n"));
    }
    client.close();
    ASSERT_TRUE(waitForClients(0));
    EXPECT_EQ(log.starting("parse return 0. buffer size: ").size(), 1u);
    EXPECT_EQ(log.count(summary), 1u);
}
