// TcpServer listening: ephemeral ports, reopening, ports in use and bad addresses. (How
// connections come and leave: StreamStormTest, StreamApiTest and the caster tests.)
#include <gtest/gtest.h>

#include <memory>

#include "TcpClient.h"
#include "TcpServer.h"
#include "TestSupport.h"

namespace {

class PlainServer : public TcpServer {
public:
    ~PlainServer() override { close(); }

protected:
    std::shared_ptr<TcpConnection> createConnection(int) override {
        return std::make_shared<TcpConnection>();
    }
};

bool connectable(uint16_t port) {
    return sluicetest::TcpClient(port, 0, false).connected();
}

}  // namespace

TEST(TcpServerListening, OpenReopenAndClose) {
    PlainServer server;
    ASSERT_TRUE(server.open("127.0.0.1", 0));  // port 0: an ephemeral port
    const uint16_t first = server.port();
    EXPECT_NE(first, 0);
    EXPECT_TRUE(server.isRunning());
    EXPECT_TRUE(connectable(first));
    // Opening an open server moves it to the new port.
    ASSERT_TRUE(server.open("127.0.0.1", 0));
    const uint16_t second = server.port();
    EXPECT_TRUE(server.isRunning());
    EXPECT_TRUE(connectable(second));
    if (second != first) {
        EXPECT_FALSE(connectable(first));
    }
    server.close();
    EXPECT_FALSE(server.isOpen());
    EXPECT_FALSE(server.isRunning());
    EXPECT_FALSE(connectable(second));
}

TEST(TcpServerListening, APortInUseOrABadAddressFailsAndLeavesNoThread) {
    const testsupport::TakenPort taken;
    PlainServer server;
    EXPECT_FALSE(server.open("", static_cast<uint16_t>(taken.port())));
    EXPECT_FALSE(server.isOpen());
    EXPECT_FALSE(server.isRunning());
    EXPECT_FALSE(server.open("203.0.113.77", 0));  // not an address of this machine
    EXPECT_FALSE(server.isRunning());
}
