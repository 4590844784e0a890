// Socket addresses, the socket wrapper's ownership, target addresses and the process-wide
// SIGPIPE handling. (Binding, sending and bind failures are covered through the casters.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include "NetAddress.h"
#include "Socket.h"
#include "SocketAddress.h"

using comn::Socket;

TEST(SocketAddress, HostTextsResolve) {
    const struct {
        const char* host;
        const char* ip;
    } cases[] = {
        {"", "0.0.0.0"},
        {nullptr, "0.0.0.0"},
        {"239.1.2.3", "239.1.2.3"},
        {"1.2.3.4.5", "255.255.255.255"},  // digits and dots, no address: as inet_addr gives
        {"localhost", "127.0.0.1"},
        {"no-such-host.invalid", "0.0.0.0"},
    };
    for (const auto& c : cases) {
        const SocketAddress address(c.host, 4321);
        EXPECT_EQ(address.getIp(), c.ip) << (c.host ? c.host : "null");
        EXPECT_EQ(address.getPort(), 4321);
        EXPECT_EQ(ntohs(address.in().sin_port), 4321);
    }
}

TEST(Socket, AttachAndDetachNeverCloseButCloseDoes) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    {
        Socket socket;
        socket.attach(fd);
        EXPECT_EQ(socket.detach(), fd);
        EXPECT_FALSE(socket.isOpen());
        Socket borrowed;
        borrowed.attach(fd);
    }  // destroyed while attached: still not closed
    EXPECT_NE(::fcntl(fd, F_GETFD), -1);
    Socket owner;
    owner.attach(fd);
    owner.close();
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
    owner.close();  // closing a closed socket does nothing
}

namespace {
void hostHandler(int) {}
sighandler_t currentPipeHandler() {
    struct sigaction now {};
    ::sigaction(SIGPIPE, nullptr, &now);
    return now.sa_handler;
}
}  // namespace

TEST(Socket, StartupIgnoresBrokenPipesUnlessTheHostHasAHandler) {
    std::signal(SIGPIPE, SIG_DFL);
    EXPECT_TRUE(Socket::startup());
    EXPECT_EQ(currentPipeHandler(), SIG_IGN);
    Socket::cleanup();
    EXPECT_EQ(currentPipeHandler(), SIG_DFL);

    std::signal(SIGPIPE, hostHandler);
    Socket::startup();
    EXPECT_EQ(currentPipeHandler(), &hostHandler);
    Socket::cleanup();
    EXPECT_EQ(currentPipeHandler(), &hostHandler);
    std::signal(SIGPIPE, SIG_DFL);
}

TEST(NetAddress, EqualOnlyForTheSameTextAndPort) {
    const av::NetAddress a("10.0.0.1", 5000);
    EXPECT_EQ(a, av::NetAddress("10.0.0.1", 5000));
    EXPECT_NE(a, av::NetAddress("10.0.0.1", 5001));
    EXPECT_NE(a, av::NetAddress("10.0.0.01", 5000));  // same address, other text
}
