#pragma once
// Board actions that change the machine itself: the system clock and the network
// interfaces. In the sandbox they are logged to board.log and never applied to the host;
// BOARD_NET=apply applies the network ones (tests in a private network namespace).

#include <ctime>
#include <string>

struct ifreq;

namespace board {

/// Sets the system clock (stime). In the sandbox: logged as "stime <seconds>", never set.
/// 0 or -1.
int setSystemClock(time_t seconds);

/// Interface and route changes: SIOCSIFADDR, SIOCSIFNETMASK (arg: struct ifreq*),
/// SIOCADDRT, SIOCDELRT (arg: struct rtentry*), on an AF_INET socket fd. In the sandbox
/// they are logged (for example "ioctl SIOCSIFADDR eth0 10.0.0.5") and succeed without
/// effect, unless BOARD_NET=apply. Any other request is refused (EINVAL).
int netChange(int fd, unsigned long request, void* arg);

/// Interface queries (SIOCGIFCONF, SIOCGIFADDR, SIOCGIFNETMASK, SIOCGIFHWADDR,
/// SIOCETHTOOL, ...) always act on the interfaces of the current network namespace.
int netQuery(int fd, unsigned long request, void* arg);

/// Result of interfaceQuery when no socket could be made for it.
constexpr int kNoQuerySocket = -2;

/// One query of one interface (SIOCGIFADDR, SIOCGIFNETMASK, SIOCGIFHWADDR, SIOCETHTOOL, ...)
/// on an AF_INET datagram socket of its own. The name is written into ifr; any other field the
/// request needs (ifr_data for SIOCETHTOOL) is the caller's. 0 on success; -1 when the name is
/// empty or too long, or the ioctl fails (errno set); kNoQuerySocket when no socket could be
/// made.
int interfaceQuery(unsigned long request, const std::string& name, ifreq& ifr);

/// True when network changes are applied in the sandbox (BOARD_NET=apply).
bool netApplyInSandbox();

}  // namespace board
