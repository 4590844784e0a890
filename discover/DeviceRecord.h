#pragma once

#include <string>

#include "DiscoveryPacket.h"

namespace discover {

class DeviceSettings;

/// What the discovery reply tells about the device, as plain texts.
struct DeviceFacts {
    std::string deviceName;
    std::string ip;
    int httpPort = 0;
    std::string deviceType;
    std::string webVersion;
    std::string hardware;
    std::string mask;
    std::string gateway;
    std::string dns;
    std::string mac;
    std::string dhcp;
    std::string uid;
};

/// Builds the device record and the discovery reply that carries it.
class DeviceRecord {
public:
    /// The UID reported when the UID file is missing: the digits 0-9 twice.
    static constexpr const char* kPlaceholderUid = "01234567890123456789";

    /// Gathers the facts from the settings, the interface ifname (address, MAC), "eth0"
    /// (netmask), the route table, the resolver file and the UID file, and fills reply with
    /// the discovery reply. Prints "devie name:%s\n" and "UID:%s\n".
    /// Returns 0, or -1 when ifname has no IPv4 address (prints "get ip error."); reply is
    /// then untouched.
    static int buildDeviceInfo(const DeviceSettings& settings, const std::string& ifname,
                               DiscoveryPacket& reply);

    /// The record of the facts: every text cut to its field size minus one.
    static deviceInfoStruct toRecord(const DeviceFacts& facts);

    /// The discovery reply: magic "MO_I", command 1, length 188, and as much of the record
    /// as the 176-byte payload holds (the uid field is cut after its first 24 bytes).
    static DiscoveryPacket discoveryReply(const deviceInfoStruct& record);
};

}  // namespace discover
