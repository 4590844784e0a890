// The HTTP caster with real clients on loopback: the response header, the chunk framing,
// which messages start a stream, repeated requests and silent clients; and the connection's
// request reading with reads split at every byte.
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "HttpMediaCasterConnection.h"
#include "HttpTsMediaCaster.h"
#include "LogCapture.h"
#include "StreamBlocks.h"
#include "TcpClient.h"
#include "TestSupport.h"

using av::HttpMediaCasterConnection;
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

    HttpTsMediaCaster m_caster;
};

}  // namespace

TEST_F(HttpCaster, AGetForTheRootGetsTheExactHeaderThenChunks) {
    TcpClient client(m_caster.port());
    ASSERT_TRUE(waitForClients(1));
    ASSERT_TRUE(request(client, "GET / HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.received(), kHeader);
    feed(0, 3);
    ASSERT_TRUE(client.waitForSize(kHeader.size() + 3 * (kBlockSize + 7)));
    EXPECT_EQ(client.received(), kHeader + chunks(0, 3));
    EXPECT_EQ(client.received().compare(kHeader.size(), 5, "524\r\n"), 0);
}

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

TEST_F(HttpCaster, AnIncompleteMessageStartsNothing) {
    TcpClient partial(m_caster.port());
    TcpClient streaming(m_caster.port());
    ASSERT_TRUE(waitForClients(2));
    ASSERT_TRUE(partial.send("GET / HTTP/1.1\r\nHost: x\r\n"));  // no empty line yet
    ASSERT_TRUE(request(streaming, "GET / HTTP/1.1\r\n\r\n"));
    feed(0, 5);
    ASSERT_TRUE(streaming.waitForSize(kHeader.size() + 5 * (kBlockSize + 7)));
    // The end of the header block arrives: the header comes first, no earlier chunk.
    ASSERT_TRUE(request(partial, "\r\n"));
    feed(5, 6);
    ASSERT_TRUE(partial.waitForSize(kHeader.size() + kBlockSize + 7));
    EXPECT_EQ(partial.received(), kHeader + chunk(5));
}

TEST_F(HttpCaster, ASilentClientGetsNothingWhileOthersStream) {
    TcpClient silent(m_caster.port());
    TcpClient a(m_caster.port());
    TcpClient b(m_caster.port());
    ASSERT_TRUE(waitForClients(3));
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
    // Once it asks, its first byte is the header's: nothing was sent to it before.
    ASSERT_TRUE(request(silent, "GET / HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(silent.received(), kHeader);
}

TEST_F(HttpCaster, ASecondRequestWritesTheHeaderAgainBetweenChunks) {
    TcpClient client(m_caster.port());
    ASSERT_TRUE(request(client, "GET / HTTP/1.1\r\n\r\n"));
    feed(0, 2);
    ASSERT_TRUE(client.waitForSize(kHeader.size() + 2 * (kBlockSize + 7)));
    ASSERT_TRUE(request(client, "GET / HTTP/1.1\r\n\r\n"));
    feed(2, 4);
    ASSERT_TRUE(client.waitForSize(2 * kHeader.size() + 4 * (kBlockSize + 7)));
    EXPECT_EQ(client.received(), kHeader + chunks(0, 2) + kHeader + chunks(2, 4));
}

TEST_F(HttpCaster, GarbageIsLoggedAndTheClientCanStillAsk) {
    sluicetest::LogCapture log;
    TcpClient client(m_caster.port());
    ASSERT_TRUE(waitForClients(1));
    ASSERT_TRUE(client.send("\x01\x02 not http\r\n"));
    ASSERT_TRUE(waitFor([&] { return !log.starting("parse return 0. buffer size: ").empty(); }));
    EXPECT_FALSE(client.closedByServer());
    ASSERT_TRUE(request(client, "GET / HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.received(), kHeader);
}

TEST_F(HttpCaster, CloseMessagesNameTheClass) {
    sluicetest::LogCapture log;
    {
        TcpClient client(m_caster.port());
        ASSERT_TRUE(waitForClients(1));
    }
    ASSERT_TRUE(waitForClients(0));
    EXPECT_EQ(log.starting("HttpMediaCasterConnection(127.0.0.1:").size(), 1u);
    const std::string line = log.starting("HttpMediaCasterConnection(").front();
    const std::string end = ") onClose stream\n";  // the stream name is empty
    EXPECT_EQ(line.substr(line.size() - end.size()), end);
}

namespace {

// The connection's read path without a loop: bytes are put into the input buffer of a
// bufferevent on a socket pair, as libevent would after a read, and onRead is called.
class HttpRequestReading : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, m_pair), 0);
        m_base = event_base_new();
        m_bev = bufferevent_socket_new(m_base, m_pair[0], BEV_OPT_CLOSE_ON_FREE);
        ASSERT_NE(m_bev, nullptr);
    }
    void TearDown() override {
        bufferevent_free(m_bev);
        event_base_free(m_base);
        ::close(m_pair[1]);
    }

    void read(const std::string& bytes) {
        // Only the bufferevent itself may add to its input; stand in for it.
        evbuffer* in = bufferevent_get_input(m_bev);
        evbuffer_unfreeze(in, 0);
        ASSERT_EQ(evbuffer_add(in, bytes.data(), bytes.size()), 0);
        evbuffer_freeze(in, 0);
        m_connection.onRead(m_bev);
    }
    std::string written() {
        evbuffer* out = bufferevent_get_output(m_bev);
        const size_t length = evbuffer_get_length(out);
        return std::string(reinterpret_cast<const char*>(evbuffer_pullup(out, -1)), length);
    }

    int m_pair[2] = {-1, -1};
    event_base* m_base = nullptr;
    bufferevent* m_bev = nullptr;
    HttpMediaCasterConnection m_connection;
};

}  // namespace

TEST_F(HttpRequestReading, ARequestArrivingOneBytePerReadIsRecognisedAtItsLastByte) {
    const std::string request = "GET /a/b?c=d HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n\r\n";
    for (size_t i = 0; i + 1 < request.size(); ++i) {
        read(request.substr(i, 1));
        ASSERT_FALSE(m_connection.isStreaming()) << i;
        ASSERT_EQ(written(), "") << i;
    }
    read(request.substr(request.size() - 1));
    EXPECT_TRUE(m_connection.isStreaming());
    EXPECT_EQ(written(), kHeader);
}

TEST_F(HttpRequestReading, TwoRequestsWriteTheHeaderTwice) {
    read("GET / HTTP/1.1\r\n\r\n");
    read("GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(written(), kHeader + kHeader);
}
