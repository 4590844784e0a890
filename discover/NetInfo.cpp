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

std::string dotted(const sockaddr& sa) {
    sockaddr_in in;
    std::memcpy(&in, &sa, sizeof in);
    char text[INET_ADDRSTRLEN] = {0};
    ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    return text;
}

}  // namespace

std::optional<std::string> NetInfo::address(const std::string& ifname) {
    ifreq ifr{};
    const int rc = board::interfaceQuery(SIOCGIFADDR, ifname, ifr);
    if (rc == board::kNoQuerySocket) {
        std::fprintf(stderr, "socket create failse...GetLocalIp!\n");
    }
    if (rc != 0) {
        return std::nullopt;
    }
    return dotted(ifr.ifr_addr);
}

std::optional<std::string> NetInfo::netmask(const std::string& ifname) {
    ifreq ifr{};
    const int rc = board::interfaceQuery(SIOCGIFNETMASK, ifname, ifr);
    if (rc == board::kNoQuerySocket) {
        std::perror("getLocalAddress() socket()");
    }
    if (rc != 0) {
        return std::nullopt;
    }
    return dotted(ifr.ifr_netmask);
}

std::optional<std::string> NetInfo::mac(const std::string& ifname) {
    ifreq ifr{};
    const int rc = board::interfaceQuery(SIOCGIFHWADDR, ifname, ifr);
    if (rc != 0) {
        std::perror(rc == board::kNoQuerySocket ? "sock" : "ioctl");
        return std::nullopt;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(ifr.ifr_hwaddr.sa_data);
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4],
                  b[5]);
    return std::string(text);
}

bool NetInfo::linkUp(const std::string& ifname) {
    ethtool_value edata;
    std::memset(&edata, 0, sizeof edata);
    edata.cmd = ETHTOOL_GLINK;
    ifreq ifr{};
    ifr.ifr_data = reinterpret_cast<char*>(&edata);
    const int linked = board::interfaceQuery(SIOCETHTOOL, ifname, ifr) == 0 ? int(edata.data) : 0;
    std::printf("net check:%d\n", linked);
    return linked == 1;
}

}  // namespace discover
