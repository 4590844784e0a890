#pragma once

#include <string>
#include <vector>

#include "DiscoveryClient.h"
#include "DiscoveryPacket.h"

namespace peerlo_client {

/// A device that answered a search, with every destination its answers were sent to.
struct FoundDevice {
    std::string from;
    std::vector<std::string> to;
    discover::deviceInfoStruct record;  // the received bytes; the rest zero
};

/// Turns search replies into devices and prints them.
namespace DeviceList {

/// The well-formed discovery replies (200 bytes, "MO_I", command 1), one device per
/// sender address in order of first answer.
std::vector<FoundDevice> fromReplies(const std::vector<Reply>& replies);

/// A table with a header line: name, IP, mask, gateway, DNS, MAC, UID, HTTP port, type,
/// web and hardware versions, DHCP.
std::string table(const std::vector<FoundDevice>& devices);

/// A JSON array with one object per device.
std::string json(const std::vector<FoundDevice>& devices);

}  // namespace DeviceList

}  // namespace peerlo_client
