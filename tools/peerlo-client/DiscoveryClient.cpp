#include "DiscoveryClient.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace peerlo_client {
namespace {

std::string dotted(const in_addr& addr) {
    char text[INET_ADDRSTRLEN] = {0};
    ::inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

}  // namespace

DiscoveryClient::~DiscoveryClient() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool DiscoveryClient::open() {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        std::perror("peerlo-client: socket");
        return false;
    }
    const int on = 1;
    // Broadcast to send searches; the destination of each reply tells broadcast from group.
    if (::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::setsockopt(m_fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
        std::perror("peerlo-client: setsockopt");
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        std::perror("peerlo-client: bind");
        return false;
    }
    // Devices answer searches to the group as well; without a multicast route only the
    // broadcast and unicast answers arrive, which is enough.
    ip_mreq group{};
    ::inet_pton(AF_INET, discover::kDiscoveryGroup, &group.imr_multiaddr);
    group.imr_interface.s_addr = htonl(INADDR_ANY);
    ::setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group);
    return true;
}

bool DiscoveryClient::send(const discover::DiscoveryPacket& packet, const std::string& address,
                           uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1) {
        std::fprintf(stderr, "peerlo-client: not an IPv4 address: %s\n", address.c_str());
        return false;
    }
    const ssize_t n = ::sendto(m_fd, &packet, sizeof packet, 0,
                               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (n != static_cast<ssize_t>(sizeof packet)) {
        std::fprintf(stderr, "peerlo-client: send to %s:%u: %s\n", address.c_str(), port,
                     std::strerror(errno));
        return false;
    }
    return true;
}

std::vector<Reply> DiscoveryClient::collect(int timeoutMs, size_t stopAfter) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<Reply> replies;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || (stopAfter > 0 && replies.size() >= stopAfter)) {
            break;
        }
        pollfd pfd{m_fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            break;
        }
        Reply reply;
        std::memset(&reply.packet, 0, sizeof reply.packet);
        sockaddr_in from{};
        iovec iov{&reply.packet, sizeof reply.packet};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(m_fd, &msg, 0);
        if (n < 0) {
            continue;
        }
        reply.size = static_cast<size_t>(n);
        reply.from = dotted(from.sin_addr);
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                reply.to = dotted(info.ipi_addr);
            }
        }
        replies.push_back(reply);
    }
    return replies;
}

}  // namespace peerlo_client
