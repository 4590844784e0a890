#pragma once
// Changes of the board's network configuration. They all go through the board layer, so in
// the sandbox they are logged and applied only with BOARD_NET=apply.
// Addresses are IPv4 in network byte order.

#include <cstdint>
#include <string>

namespace enc {

/// SIOCSIFADDR / SIOCSIFNETMASK with an AF_INET address of port 0. 0 or -1.
int setInterfaceAddress(const std::string& name, uint32_t address);
int setInterfaceNetmask(const std::string& name, uint32_t mask);

/// SIOCADDRT / SIOCDELRT of the default route (0.0.0.0/0) through gateway, flags
/// RTF_UP | RTF_GATEWAY. 0 or -1.
int addDefaultRoute(uint32_t gateway);
int deleteDefaultRoute(uint32_t gateway);

/// Ends any running DHCP client ("killall -9 udhcpc"), prints "dhcp interface name:%s"
/// and starts "/sbin/udhcpc -i NAME -b -R" (the name cut to 19 characters).
void startDhcp(const std::string& name);

}  // namespace enc
