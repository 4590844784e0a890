// TcpServer and TcpConnection with a recording connection: listening, reopening, refusing,
// and every way a connection leaves the table.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "TcpClient.h"
#include "TcpServer.h"
#include "TestSupport.h"

using sluicetest::TcpClient;
using testsupport::waitFor;

namespace {

struct Counters {
    std::atomic<int> opened{0};
    std::atomic<int> closed{0};
    std::atomic<int> dropped{0};  // onConnectionClosed
};

class RecordingConnection : public TcpConnection {
public:
    RecordingConnection(Counters& counters, int openResult)
        : m_counters(counters), m_openResult(openResult) {}
    int onOpen(int) override {
        ++m_counters.opened;
        return m_openResult;
    }
    void onClose() override { ++m_counters.closed; }

private:
    Counters& m_counters;
    int m_openResult;
};

class RecordingServer : public TcpServer {
public:
    ~RecordingServer() override { close(); }

    Counters counters;
    std::atomic<int> openResult{0};
    std::atomic<bool> refuse{false};

    using TcpServer::connections;

protected:
    std::shared_ptr<TcpConnection> createConnection(int) override {
        if (refuse) {
            return nullptr;
        }
        return std::make_shared<RecordingConnection>(counters, openResult);
    }
    void onConnectionClosed(std::shared_ptr<TcpConnection>) override { ++counters.dropped; }
};

bool connectable(uint16_t port) {
    TcpClient probe(port, 0, false);
    return probe.connected();
}

}  // namespace

TEST(TcpServerListening, PortZeroListensOnAnEphemeralPort) {
    RecordingServer server;
    EXPECT_FALSE(server.isOpen());
    EXPECT_EQ(server.port(), 0);
    ASSERT_TRUE(server.open("127.0.0.1", 0));
    EXPECT_TRUE(server.isOpen());
    EXPECT_TRUE(server.isRunning());
    EXPECT_NE(server.port(), 0);
    EXPECT_TRUE(connectable(server.port()));
    server.close();
    EXPECT_FALSE(server.isOpen());
    EXPECT_FALSE(server.isRunning());
}

TEST(TcpServerListening, APortInUseFailsAndLeavesNoThread) {
    const testsupport::TakenPort taken;
    RecordingServer server;
    EXPECT_FALSE(server.open("", static_cast<uint16_t>(taken.port())));
    EXPECT_FALSE(server.isOpen());
    EXPECT_FALSE(server.isRunning());
}

TEST(TcpServerListening, ABadAddressFails) {
    RecordingServer server;
    EXPECT_FALSE(server.open("203.0.113.77", 0));  // not an address of this machine
    EXPECT_FALSE(server.isRunning());
}

TEST(TcpServerListening, OpeningAnOpenServerMovesItToTheNewPort) {
    RecordingServer server;
    ASSERT_TRUE(server.open("127.0.0.1", 0));
    const uint16_t first = server.port();
    ASSERT_TRUE(server.open("127.0.0.1", 0));
    const uint16_t second = server.port();
    EXPECT_TRUE(server.isRunning());
    EXPECT_TRUE(connectable(second));
    if (second != first) {
        EXPECT_FALSE(connectable(first));
    }
}

TEST(TcpServerConnections, APeerThatClosesLeavesTheTableAtOnceAndClosesOnce) {
    RecordingServer server;
    ASSERT_TRUE(server.open("127.0.0.1", 0));
    {
        TcpClient a(server.port());
        TcpClient b(server.port());
        ASSERT_TRUE(waitFor([&] { return server.connectionCount() == 2; }));
        a.close();
        ASSERT_TRUE(waitFor([&] { return server.connectionCount() == 1; }));
        b.close(true);  // a reset instead of an orderly close
        ASSERT_TRUE(waitFor([&] { return server.connectionCount() == 0; }));
    }
    EXPECT_EQ(server.counters.closed, 2);
    EXPECT_EQ(server.counters.dropped, 2);
    // Nothing left to close a second time.
    server.closeAllConnections();
    EXPECT_EQ(server.counters.closed, 2);
}

TEST(TcpServerConnections, CloseAllDisconnectsEveryClientOnce) {
    RecordingServer server;
    ASSERT_TRUE(server.open("127.0.0.1", 0));
    TcpClient a(server.port());
    TcpClient b(server.port());
    TcpClient c(server.port());
    ASSERT_TRUE(waitFor([&] { return server.connectionCount() == 3; }));
    server.closeAllConnections();
    EXPECT_EQ(server.connectionCount(), 0u);
    EXPECT_EQ(server.counters.closed, 3);
    EXPECT_EQ(server.counters.dropped, 3);
    EXPECT_TRUE(a.waitForClose());
    EXPECT_TRUE(b.waitForClose());
    EXPECT_TRUE(c.waitForClose());
    TcpClient later(server.port());
    EXPECT_TRUE(waitFor([&] { return server.connectionCount() == 1; }));
}

TEST(TcpServerConnections, RemoveConnectionByDescriptor) {
    RecordingServer server;
    ASSERT_TRUE(server.open("127.0.0.1", 0));
    TcpClient client(server.port());
    ASSERT_TRUE(waitFor([&] { return server.connectionCount() == 1; }));
    int fd = -1;
    server.connections().forEach([&](int key, const auto&) { fd = key; });
    EXPECT_TRUE(server.removeConnection(fd));
    EXPECT_FALSE(server.removeConnection(fd));
    EXPECT_EQ(server.counters.closed, 1);
    EXPECT_TRUE(client.waitForClose());
}

TEST(TcpServerConnections, RefusedClientsAreDisconnected) {
    RecordingServer server;
    ASSERT_TRUE(server.open("127.0.0.1", 0));
    server.openResult = 1;
    TcpClient refusedByOpen(server.port());
    EXPECT_TRUE(refusedByOpen.waitForClose());
    server.refuse = true;
    TcpClient notCreated(server.port());
    EXPECT_TRUE(notCreated.waitForClose());
    EXPECT_EQ(server.connectionCount(), 0u);
    EXPECT_EQ(server.counters.opened, 1);
    EXPECT_EQ(server.counters.closed, 0);  // never entered the table, never opened fully
}

TEST(TcpServerConnections, ClosingTheServerKeepsClientsAndDestroyingItClosesThem) {
    auto server = std::make_unique<RecordingServer>();
    ASSERT_TRUE(server->open("127.0.0.1", 0));
    TcpClient client(server->port());
    ASSERT_TRUE(waitFor([&] { return server->connectionCount() == 1; }));
    server->close();
    EXPECT_EQ(server->connectionCount(), 1u);
    EXPECT_FALSE(client.closedByServer());
    server.reset();
    EXPECT_TRUE(client.waitForClose());
}
