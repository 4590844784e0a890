#pragma once
// Queries of the board's network state: interfaces, default gateway, name servers.
// Addresses are IPv4 in network byte order; kNoAddress (all ones) marks a failed query.
// Each interface query opens and closes its own socket, so they may run on any thread.

#include <cstdint>
#include <string>

#include "Ipv4.h"

namespace enc {

constexpr uint32_t kNoAddress = 0xFFFFFFFFu;

/// The first configured interface (one with an IPv4 address) that is not "lo", among the
/// first three the kernel lists. Prints "name       = [%s]" and "local addr = [%s]" to
/// standard error. name is left as it was when none qualifies. 0, or -1 when no socket
/// could be made or the interfaces could not be listed.
int getActiveInterface(std::string& name);

/// The interface's address (SIOCGIFADDR) or netmask (SIOCGIFNETMASK); kNoAddress on failure.
uint32_t getInterfaceAddress(const std::string& name);
uint32_t getInterfaceNetmask(const std::string& name);

/// The hardware address as "%02x:%02x:%02x:%02x:%02x:%02x". 0, or -1 (mac unchanged).
int getInterfaceMac(const std::string& name, std::string& mac);

/// The default gateway from the board's "/proc/net/route": the first route that is up and
/// either a host route (its destination) or a gateway route (its gateway). 0 when the file
/// cannot be read or no route qualifies. Prints "gateway:%s" to standard error.
uint32_t getDefaultGateway();

/// The n-th (from 0) name server of a resolver file (a real path). Lines longer than five
/// characters count unless they hold "search domain"; the server is the text after the
/// first blank. Fewer counting lines than n + 1: the last one; none: 114.114.114.114.
/// kNoAddress when the file cannot be opened or the text is not an address.
uint32_t getNameServer(const std::string& file, int n);

// The address text rules are the common runtime's.
using comn::ipv4Text;
using comn::isValidIpv4;

}  // namespace enc
