#include "NetInfo.h"

#include <arpa/inet.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "board/System.h"

namespace discover {
namespace {

/// A datagram socket for interface ioctls, closed on scope exit.
class QuerySocket {
public:
    QuerySocket() : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~QuerySocket() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    QuerySocket(const QuerySocket&) = delete;
    QuerySocket& operator=(const QuerySocket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

ifreq requestFor(const std::string& ifname) {
    ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::strncpy(ifr.ifr_name, ifname.c_str(), IFNAMSIZ - 1);
    return ifr;
}

std::string dotted(const sockaddr& sa) {
    sockaddr_in in;
    std::memcpy(&in, &sa, sizeof in);
    char text[INET_ADDRSTRLEN] = {0};
    ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    return text;
}

}  // namespace

std::optional<std::string> NetInfo::address(const std::string& ifname) {
    QuerySocket sock;
    if (sock.fd() < 0) {
        std::fprintf(stderr, "socket create failse...GetLocalIp!\n");
        return std::nullopt;
    }
    ifreq ifr = requestFor(ifname);
    if (board::netQuery(sock.fd(), SIOCGIFADDR, &ifr) != 0) {
        return std::nullopt;
    }
    return dotted(ifr.ifr_addr);
}

std::optional<std::string> NetInfo::netmask(const std::string& ifname) {
    QuerySocket sock;
    if (sock.fd() < 0) {
        std::perror("getLocalAddress() socket()");
        return std::nullopt;
    }
    ifreq ifr = requestFor(ifname);
    if (board::netQuery(sock.fd(), SIOCGIFNETMASK, &ifr) != 0) {
        return std::nullopt;
    }
    return dotted(ifr.ifr_netmask);
}

std::optional<std::string> NetInfo::mac(const std::string& ifname) {
    QuerySocket sock;
    if (sock.fd() < 0) {
        std::perror("sock");
        return std::nullopt;
    }
    ifreq ifr = requestFor(ifname);
    if (board::netQuery(sock.fd(), SIOCGIFHWADDR, &ifr) != 0) {
        std::perror("ioctl");
        return std::nullopt;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(ifr.ifr_hwaddr.sa_data);
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4],
                  b[5]);
    return std::string(text);
}

bool NetInfo::linkUp(const std::string& ifname) {
    QuerySocket sock;
    if (sock.fd() < 0) {
        return false;
    }
    ethtool_value edata;
    std::memset(&edata, 0, sizeof edata);
    edata.cmd = ETHTOOL_GLINK;
    ifreq ifr = requestFor(ifname);
    ifr.ifr_data = reinterpret_cast<char*>(&edata);
    const int linked = board::netQuery(sock.fd(), SIOCETHTOOL, &ifr) == 0 ? int(edata.data) : 0;
    std::printf("net check:%d\n", linked);
    return linked == 1;
}

}  // namespace discover
