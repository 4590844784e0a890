#pragma once

#include <optional>
#include <string>

namespace discover {

/// Queries of the network interfaces of the current network namespace, through the board
/// layer. Each call opens and closes its own datagram socket. Failures are reported on
/// standard error with the messages the device has always printed.
namespace NetInfo {

/// IPv4 address as dotted text; nothing when the interface has none.
std::optional<std::string> address(const std::string& ifname);
/// Netmask as dotted text; nothing on failure.
std::optional<std::string> netmask(const std::string& ifname);
/// Hardware address as "%02x:%02x:%02x:%02x:%02x:%02x"; nothing on failure.
std::optional<std::string> mac(const std::string& ifname);
/// Whether the link is up (ethtool get-link); prints "net check:%d\n". False when the
/// interface is missing or cannot tell.
bool linkUp(const std::string& ifname);

}  // namespace NetInfo

}  // namespace discover
