#include "PeerloHarness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace peerlo_test {
namespace {

using testsupport::shell;

/// A socket created inside the named network namespace (a datagram socket unless told).
/// Only this thread switches, and it switches back before returning.
int socketIn(const std::string& ns, int type = SOCK_DGRAM, int protocol = 0) {
    const int self = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    int fd = -1;
    if (self >= 0 && target >= 0 && ::setns(target, CLONE_NEWNET) == 0) {
        fd = ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
        if (::setns(self, CLONE_NEWNET) != 0) {
            std::abort();  // the test would go on in the wrong namespace
        }
    }
    for (int f : {self, target}) {
        if (f >= 0) {
            ::close(f);
        }
    }
    return fd;
}

std::string dotted(const in_addr& a) {
    char text[INET_ADDRSTRLEN] = {0};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

}  // namespace

discover::DiscoveryPacket Datagram::packet() const {
    discover::DiscoveryPacket p;
    std::memset(&p, 0, sizeof p);
    std::memcpy(&p, bytes.data(), std::min(bytes.size(), sizeof p));
    return p;
}

PeerloHarness::PeerloHarness()
    : m_ns(std::string(kDeviceIp) + "/24", std::string(kToolIp) + "/24") {
    if (!m_ns.ok()) {
        m_reason = m_ns.reason();
        return;
    }
    m_toolFd = socketIn(m_ns.peerName());
    if (m_toolFd < 0) {
        m_reason = "no socket in the peer namespace";
        return;
    }
    const int on = 1;
    ::setsockopt(m_toolFd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    ::setsockopt(m_toolFd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ip_mreq group{};
    ::inet_pton(AF_INET, discover::kDiscoveryGroup, &group.imr_multiaddr);
    if (::bind(m_toolFd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::setsockopt(m_toolFd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) != 0) {
        m_reason = std::string("tool socket: ") + std::strerror(errno);
        return;
    }
    m_ok = true;
}

PeerloHarness::~PeerloHarness() {
    m_peerlo.stop();
    for (const int fd : {m_toolFd, m_rawFd}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool PeerloHarness::start(bool waitUntilListening) {
    // "ip netns exec" runs peerlo in its own place, so the child is peerlo itself.
    if (!m_peerlo.start(
            {"ip", "netns", "exec", m_ns.name(), testsupport::programPath("peerlo"), "1"},
            testsupport::ChildProcess::Stderr::ToOutput, {{"BOARD_ROOT", m_board.root()}})) {
        return false;
    }
    return !waitUntilListening || waitForOutput("start device discover sever\n");
}

int PeerloHarness::ipInside(const std::string& args) const {
    return shell("ip -n " + m_ns.name() + " " + args + " 2>&1");
}

std::string PeerloHarness::output() const {
    return m_peerlo.output();
}

bool PeerloHarness::waitForOutput(const std::string& text,
                                  std::chrono::milliseconds timeout) const {
    return testsupport::waitFor([&] { return output().find(text) != std::string::npos; }, timeout);
}

bool PeerloHarness::waitForBoardLine(const std::string& line,
                                     std::chrono::milliseconds timeout) const {
    return testsupport::waitFor(
        [&] {
            for (const auto& l : m_board.boardLog()) {
                if (l == line) {
                    return true;
                }
            }
            return false;
        },
        timeout);
}

bool PeerloHarness::send(const void* data, size_t size, const std::string& address) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(discover::kDiscoveryPort);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    return ::sendto(m_toolFd, data, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(size);
}

bool PeerloHarness::sendSpoofed(const std::string& source, const void* data, size_t size) {
    if (m_rawFd < 0) {
        m_rawFd = socketIn(m_ns.peerName(), SOCK_RAW, IPPROTO_RAW);  // IP header included
    }
    sockaddr_in tool{};
    socklen_t toolLength = sizeof tool;
    if (m_rawFd < 0 || size > sizeof(discover::DiscoveryPacket) ||
        ::getsockname(m_toolFd, reinterpret_cast<sockaddr*>(&tool), &toolLength) != 0) {
        return false;
    }
    struct {
        iphdr ip;
        udphdr udp;
        char payload[sizeof(discover::DiscoveryPacket)];
    } packet{};
    const size_t total = sizeof packet.ip + sizeof packet.udp + size;
    packet.ip.version = 4;
    packet.ip.ihl = sizeof packet.ip / 4;
    packet.ip.ttl = 64;
    packet.ip.protocol = IPPROTO_UDP;
    packet.ip.tot_len = htons(static_cast<uint16_t>(total));
    ::inet_pton(AF_INET, source.c_str(), &packet.ip.saddr);
    ::inet_pton(AF_INET, kDeviceIp, &packet.ip.daddr);
    packet.udp.source = tool.sin_port;
    packet.udp.dest = htons(discover::kDiscoveryPort);
    packet.udp.len = htons(static_cast<uint16_t>(sizeof packet.udp + size));  // checksum 0: none
    std::memcpy(packet.payload, data, size);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = packet.ip.daddr;
    return ::sendto(m_rawFd, &packet, total, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(total);
}

std::optional<Datagram> PeerloHarness::receive(std::chrono::milliseconds timeout) {
    pollfd pfd{m_toolFd, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(timeout.count())) <= 0) {
        return std::nullopt;
    }
    char buf[2048];
    sockaddr_in from{};
    iovec iov{buf, sizeof buf};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(m_toolFd, &msg, 0);
    if (n < 0) {
        return std::nullopt;
    }
    Datagram d;
    d.bytes.assign(buf, static_cast<size_t>(n));
    d.from = dotted(from.sin_addr);
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            d.to = dotted(info.ipi_addr);
        }
    }
    return d;
}

int PeerloHarness::client(const std::string& args, std::string* out) const {
    out->clear();
    return shell(m_ns.peerExecPrefix() + quoted(testsupport::programPath("peerlo-client")) + " " +
                     args + " 2>&1",
                 out);
}

}  // namespace peerlo_test
