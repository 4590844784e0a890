#include "UdpReceiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "TestSupport.h"

namespace sluicetest {

UdpReceiver::UdpReceiver(bool anyLocalAddress) {
    m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    int size = 16 * 1024 * 1024;  // room for several test clips, where the system allows it
    if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    int on = 1;
    ::setsockopt(m_fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(anyLocalAddress ? INADDR_ANY : INADDR_LOOPBACK);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        throw std::runtime_error("UdpReceiver: bind failed");
    }
    socklen_t length = sizeof addr;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &length);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { loop(); });
}

UdpReceiver::~UdpReceiver() {
    m_stop = true;
    m_thread.join();
    ::close(m_fd);
}

void UdpReceiver::loop() {
    std::string buffer(65536, '\0');
    char control[256];
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) {
            continue;
        }
        m_busy = true;
        iovec vector{buffer.data(), buffer.size()};
        msghdr message{};
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(m_fd, &message, 0);
        if (n >= 0) {
            int host = -1;
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                    const auto* info = reinterpret_cast<const in_pktinfo*>(CMSG_DATA(c));
                    host = static_cast<int>(ntohl(info->ipi_addr.s_addr) & 0xFF);
                }
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            m_arrivals.push_back({host, std::string(buffer.data(), static_cast<size_t>(n))});
        }
        m_busy = false;
    }
}

bool UdpReceiver::waitQuiet() {
    return testsupport::waitFor([this] {
        int pending = 0;
        ::ioctl(m_fd, FIONREAD, &pending);
        return pending == 0 && !m_busy;
    });
}

std::vector<UdpReceiver::Arrival> UdpReceiver::arrivals() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_arrivals;
}

std::vector<std::string> UdpReceiver::datagrams() {
    std::vector<std::string> bytes;
    for (Arrival& a : arrivals()) {
        bytes.push_back(std::move(a.bytes));
    }
    return bytes;
}

std::string UdpReceiver::joined(size_t header) {
    std::string all;
    for (const std::string& d : datagrams()) {
        if (d.size() > header) {
            all.append(d, header, std::string::npos);
        }
    }
    return all;
}

}  // namespace sluicetest
