#include "NetChange.h"

#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "board/Command.h"
#include "board/System.h"

namespace enc {
namespace {

// The DHCP client's command line took the interface name in a 20-byte field.
constexpr size_t kDhcpNameLength = 19;

class ChangeSocket {
public:
    ChangeSocket() : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~ChangeSocket() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    ChangeSocket(const ChangeSocket&) = delete;
    ChangeSocket& operator=(const ChangeSocket&) = delete;
    int fd() const { return m_fd; }
    bool ok() const { return m_fd >= 0; }

private:
    int m_fd;
};

void fillInet(sockaddr& target, uint32_t address) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = 0;
    in.sin_addr.s_addr = address;
    std::memcpy(&target, &in, sizeof in);
}

int changeInterface(const std::string& name, unsigned long request, uint32_t address) {
    ChangeSocket sock;
    if (!sock.ok() || name.empty() || name.size() >= IFNAMSIZ) {
        return -1;
    }
    ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::memcpy(ifr.ifr_name, name.data(), name.size());
    fillInet(request == SIOCSIFADDR ? ifr.ifr_addr : ifr.ifr_netmask, address);
    return board::netChange(sock.fd(), request, &ifr) == 0 ? 0 : -1;
}

int changeDefaultRoute(unsigned long request, uint32_t gateway) {
    ChangeSocket sock;
    if (!sock.ok()) {
        return -1;
    }
    rtentry route;
    std::memset(&route, 0, sizeof route);
    fillInet(route.rt_dst, INADDR_ANY);
    fillInet(route.rt_genmask, INADDR_ANY);
    fillInet(route.rt_gateway, gateway);
    route.rt_flags = RTF_UP | RTF_GATEWAY;
    return board::netChange(sock.fd(), request, &route) == 0 ? 0 : -1;
}

}  // namespace

int setInterfaceAddress(const std::string& name, uint32_t address) {
    return changeInterface(name, SIOCSIFADDR, address);
}

int setInterfaceNetmask(const std::string& name, uint32_t mask) {
    return changeInterface(name, SIOCSIFNETMASK, mask);
}

int addDefaultRoute(uint32_t gateway) {
    return changeDefaultRoute(SIOCADDRT, gateway);
}

int deleteDefaultRoute(uint32_t gateway) {
    return changeDefaultRoute(SIOCDELRT, gateway);
}

void startDhcp(const std::string& name) {
    board::run({"killall", "-9", "udhcpc"});
    const std::string shortName = name.substr(0, kDhcpNameLength);
    std::printf("dhcp interface name:%s\n", shortName.c_str());
    std::fflush(stdout);
    board::run({"/sbin/udhcpc", "-i", shortName, "-b", "-R"});
}

}  // namespace enc
