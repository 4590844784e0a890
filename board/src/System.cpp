#include "board/System.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "board/Board.h"

namespace board {
namespace {

std::string addressText(const sockaddr& sa) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(sa);
    char text[INET_ADDRSTRLEN] = {0};
    inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    return text;
}

std::string describe(unsigned long request, const void* arg) {
    switch (request) {
        case SIOCSIFADDR:
        case SIOCSIFNETMASK: {
            const auto* ifr = static_cast<const ifreq*>(arg);
            std::string name(ifr->ifr_name, strnlen(ifr->ifr_name, IFNAMSIZ));
            return std::string(request == SIOCSIFADDR ? "ioctl SIOCSIFADDR "
                                                      : "ioctl SIOCSIFNETMASK ") +
                   name + " " + addressText(ifr->ifr_addr);
        }
        case SIOCADDRT:
        case SIOCDELRT: {
            const auto* rt = static_cast<const rtentry*>(arg);
            return std::string(request == SIOCADDRT ? "ioctl SIOCADDRT" : "ioctl SIOCDELRT") +
                   " default gw " + addressText(rt->rt_gateway);
        }
        default:
            return std::string();
    }
}

}  // namespace

bool netApplyInSandbox() {
    const char* env = std::getenv("BOARD_NET");
    return env != nullptr && std::string(env) == "apply";
}

int setSystemClock(time_t seconds) {
    if (isSandbox()) {
        logLine("stime " + std::to_string(static_cast<long long>(seconds)));
        return 0;
    }
    timespec ts{};
    ts.tv_sec = seconds;
    return clock_settime(CLOCK_REALTIME, &ts) == 0 ? 0 : -1;
}

int netChange(int fd, unsigned long request, void* arg) {
    const std::string text = describe(request, arg);
    if (text.empty()) {
        errno = EINVAL;
        return -1;
    }
    if (isSandbox()) {
        logLine(text);
        if (!netApplyInSandbox()) {
            return 0;
        }
    }
    return ::ioctl(fd, request, arg) == 0 ? 0 : -1;
}

int netQuery(int fd, unsigned long request, void* arg) {
    return ::ioctl(fd, request, arg);
}

int interfaceQuery(unsigned long request, const std::string& name, ifreq& ifr) {
    if (name.empty() || name.size() >= IFNAMSIZ) {
        errno = EINVAL;
        return -1;
    }
    std::memset(ifr.ifr_name, 0, IFNAMSIZ);
    std::memcpy(ifr.ifr_name, name.data(), name.size());
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return kNoQuerySocket;
    }
    const int rc = ::ioctl(fd, request, &ifr) == 0 ? 0 : -1;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return rc;
}

}  // namespace board
