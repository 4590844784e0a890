#include "NetQuery.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "board/Board.h"
#include "board/System.h"

namespace enc {
namespace {

// The board's tools only ever looked at the first three interfaces the kernel lists.
constexpr int kListedInterfaces = 3;
// Lines of /proc/net/route are at most 129 characters.
constexpr int kRouteLineSize = 130;
// Resolver lines are read up to 255 characters.
constexpr int kResolverLineSize = 256;
// Lines of five characters or fewer cannot name a server.
constexpr size_t kShortestServerLine = 5;
constexpr const char* kFallbackNameServer = "114.114.114.114";

uint32_t queryAddress(const std::string& name, unsigned long request) {
    ifreq ifr{};
    if (board::interfaceQuery(request, name, ifr) != 0) {
        return kNoAddress;
    }
    return reinterpret_cast<const sockaddr_in*>(&ifr.ifr_addr)->sin_addr.s_addr;
}

std::string trimmed(const char* text) {
    std::string s(text);
    const size_t end = s.find_last_not_of(" \t\r\n");
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

uint32_t parseAddress(const std::string& text) {
    in_addr address{};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1 ? address.s_addr : kNoAddress;
}

}  // namespace

int getActiveInterface(std::string& name) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::fprintf(stderr, "socket(AF_INET, SOCK_DGRAM, 0) error!\n");
        return -1;
    }
    ifreq entries[kListedInterfaces];
    std::memset(entries, 0, sizeof entries);
    ifconf conf{};
    conf.ifc_len = sizeof entries;
    conf.ifc_req = entries;
    const int listed = board::netQuery(fd, SIOCGIFCONF, &conf);
    ::close(fd);
    if (listed != 0) {
        return -1;
    }
    const int count = conf.ifc_len / static_cast<int>(sizeof(ifreq));
    for (int i = 0; i < count && i < kListedInterfaces; ++i) {
        const std::string entry(entries[i].ifr_name, strnlen(entries[i].ifr_name, IFNAMSIZ));
        if (entry == "lo") {
            continue;
        }
        const auto* in = reinterpret_cast<const sockaddr_in*>(&entries[i].ifr_addr);
        std::fprintf(stderr, "name       = [%s]\n", entry.c_str());
        std::fprintf(stderr, "local addr = [%s]\n", ipv4Text(in->sin_addr.s_addr).c_str());
        name = entry;
        break;
    }
    return 0;
}

uint32_t getInterfaceAddress(const std::string& name) {
    return queryAddress(name, SIOCGIFADDR);
}

uint32_t getInterfaceNetmask(const std::string& name) {
    return queryAddress(name, SIOCGIFNETMASK);
}

int getInterfaceMac(const std::string& name, std::string& mac) {
    ifreq ifr{};
    const int rc = board::interfaceQuery(SIOCGIFHWADDR, name, ifr);
    if (rc == board::kNoQuerySocket) {
        std::perror("socket error");
        return -1;
    }
    if (rc != 0) {
        std::fprintf(stderr, "net_get_hwaddr: ioctl SIOCGIFHWADDR\n");
        return -1;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(ifr.ifr_hwaddr.sa_data);
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4],
                  b[5]);
    mac = text;
    return 0;
}

uint32_t getDefaultGateway() {
    uint32_t result = 0;
    FILE* file = std::fopen(board::path("/proc/net/route").c_str(), "r");
    if (file != nullptr) {
        char line[kRouteLineSize];
        bool header = true;
        while (std::fgets(line, sizeof line, file) != nullptr) {
            if (header) {
                header = false;
                continue;
            }
            char iface[IFNAMSIZ + 1] = {0};
            unsigned long destination = 0;
            unsigned long gateway = 0;
            unsigned int flags = 0;
            if (std::sscanf(line, "%16s\t%08lX\t%08lX\t%8X\t", iface, &destination, &gateway,
                            &flags) != 4 ||
                (flags & RTF_UP) == 0) {
                continue;
            }
            if ((flags & RTF_HOST) != 0) {
                result = static_cast<uint32_t>(destination);
                break;
            }
            if ((flags & RTF_GATEWAY) != 0) {
                result = static_cast<uint32_t>(gateway);
                break;
            }
        }
        std::fclose(file);
    }
    std::fprintf(stderr, "gateway:%s\n", ipv4Text(result).c_str());
    return result;
}

uint32_t getNameServer(const std::string& file, int n) {
    FILE* in = std::fopen(file.c_str(), "r");
    if (in == nullptr) {
        return kNoAddress;
    }
    std::string chosen;
    int counted = 0;
    char line[kResolverLineSize];
    while (counted <= n && std::fgets(line, sizeof line, in) != nullptr) {
        if (std::strlen(line) <= kShortestServerLine || std::strstr(line, "search domain")) {
            continue;
        }
        const char* blank = std::strchr(line, ' ');
        chosen = trimmed(blank != nullptr ? blank + 1 : "");
        std::fprintf(stderr, "dnsname:%s\n", chosen.c_str());
        ++counted;
    }
    std::fclose(in);
    return parseAddress(counted == 0 ? kFallbackNameServer : chosen);
}

}  // namespace enc
