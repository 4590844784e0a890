// Socket addresses, the socket wrapper, targets and the process-wide SIGPIPE handling.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include "NetAddress.h"
#include "Socket.h"
#include "SocketAddress.h"

using comn::Socket;

TEST(SocketAddress, EmptyOrNullHostIsAnyAddress) {
    const SocketAddress empty("", 5000);
    const SocketAddress null(static_cast<const char*>(nullptr), 5000);
    EXPECT_EQ(empty.getIp(), "0.0.0.0");
    EXPECT_EQ(empty.getPort(), 5000);
    EXPECT_EQ(null.getIp(), "0.0.0.0");
    EXPECT_EQ(null.getPort(), 5000);
    EXPECT_EQ(empty.length(), 16u);
    EXPECT_EQ(empty.in().sin_family, AF_INET);
}

TEST(SocketAddress, DottedHostsAreTakenWithoutLookup) {
    const SocketAddress group("239.1.2.3", 1234);
    EXPECT_EQ(group.getIp(), "239.1.2.3");
    EXPECT_EQ(group.getPort(), 1234);
    EXPECT_EQ(ntohs(group.in().sin_port), 1234);
    // Digits and dots that are no address become all ones, as inet_addr gives.
    EXPECT_EQ(SocketAddress("1.2.3.4.5", 1).getIp(), "255.255.255.255");
}

TEST(SocketAddress, NamesAreLookedUp) {
    EXPECT_EQ(SocketAddress("localhost", 80).getIp(), "127.0.0.1");
}

TEST(SocketAddress, UnresolvableNameGivesAnyAddressWithThePort) {
    const SocketAddress address("no-such-host.invalid", 4321);
    EXPECT_EQ(address.getIp(), "0.0.0.0");
    EXPECT_EQ(address.getPort(), 4321);
}

TEST(Socket, AttachAndDetachNeverClose) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    {
        Socket socket;
        socket.attach(fd);
        EXPECT_TRUE(socket.isOpen());
        EXPECT_EQ(socket.detach(), fd);
        EXPECT_FALSE(socket.isOpen());
    }
    {
        Socket borrowed;
        borrowed.attach(fd);
    }  // destroyed while attached: still not closed
    EXPECT_NE(::fcntl(fd, F_GETFD), -1);
    ::close(fd);
}

TEST(Socket, OpenBindSendAndClose) {
    Socket receiver;
    ASSERT_TRUE(receiver.open(SOCK_DGRAM));
    ASSERT_EQ(receiver.bind(SocketAddress("127.0.0.1", 0)), 0);
    const uint16_t port = receiver.getSockName().getPort();
    ASSERT_NE(port, 0);

    Socket sender;
    ASSERT_TRUE(sender.open(SOCK_DGRAM));
    EXPECT_TRUE(sender.setSendBufferSize(65536));
    EXPECT_EQ(sender.sendTo("hello", 5, 0, SocketAddress("127.0.0.1", port)), 5);
    char buf[16] = {};
    EXPECT_EQ(::recv(receiver.fd(), buf, sizeof buf, 0), 5);
    EXPECT_STREQ(buf, "hello");

    // Unconnected: the peer name keeps 0.0.0.0:0.
    EXPECT_EQ(sender.getPeerName().getIp(), "0.0.0.0");
    EXPECT_EQ(sender.getPeerName().getPort(), 0);

    const int fd = sender.fd();
    sender.close();
    EXPECT_FALSE(sender.isOpen());
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
    sender.close();  // closing a closed socket does nothing
    receiver.close();
}

TEST(Socket, SecondBindOnTheSamePortFails) {
    Socket first;
    Socket second;
    ASSERT_TRUE(first.open(SOCK_DGRAM));
    ASSERT_EQ(first.bind(SocketAddress("127.0.0.1", 0)), 0);
    ASSERT_TRUE(second.open(SOCK_DGRAM));
    EXPECT_NE(second.bind(SocketAddress("", first.getSockName().getPort())), 0);
    first.close();
    second.close();
}

TEST(SocketDeath, OpeningAnOpenSocketIsAProgrammingError) {
    Socket socket;
    ASSERT_TRUE(socket.open(SOCK_DGRAM));
    EXPECT_DEATH(socket.open(SOCK_DGRAM), "!isOpen\\(\\)");
    socket.close();
}

namespace {
void hostHandler(int) {}
sighandler_t currentPipeHandler() {
    struct sigaction now {};
    ::sigaction(SIGPIPE, nullptr, &now);
    return now.sa_handler;
}
}  // namespace

TEST(Socket, StartupIgnoresBrokenPipesAndCleanupRestoresTheDefault) {
    std::signal(SIGPIPE, SIG_DFL);
    EXPECT_TRUE(Socket::startup());
    EXPECT_EQ(currentPipeHandler(), SIG_IGN);
    Socket::cleanup();
    EXPECT_EQ(currentPipeHandler(), SIG_DFL);
}

TEST(Socket, AHandlerOfTheHostProcessIsKept) {
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
    av::NetAddress b;
    b.set("10.0.0.1", 5000);
    EXPECT_EQ(a, b);
    av::NetAddress c(a);
    EXPECT_EQ(c.ip(), "10.0.0.1");
    EXPECT_EQ(c.port(), 5000);
}
