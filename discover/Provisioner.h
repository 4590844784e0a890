#pragma once

#include <functional>
#include <optional>
#include <string>

#include "DeviceSettings.h"
#include "DiscoveryPacket.h"

namespace discover {

/// Carries out the provisioning commands of the management tool: new IPv4 settings, UID,
/// MAC, reboot and factory restore. It builds the replies; the caller sends them.
///
/// Every board tool runs through board::run() with an argument vector, so no request text
/// ever reaches a shell. The requests come from anyone on the LAN: a set-IP request needs
/// valid dotted addresses, a set-UID request a plain identifier (RequestParser).
/// Not thread-safe (peerlo has one thread).
class Provisioner {
public:
    /// Waits the given number of seconds (replaceable so that tests need not wait).
    using Sleeper = std::function<void(unsigned seconds)>;

    /// deviceIp: the address of the device record; set-IP requests must name it.
    explicit Provisioner(std::string deviceIp, Sleeper sleeper = Sleeper());

    /// DEVICE_BROAD_SET_IP_REQ: saves the new wired settings and returns the 1001 reply, or
    /// nothing (prints "invalid IP") when the request does not name this device or carries
    /// an address that is not valid dotted IPv4, or when the settings cannot be saved.
    /// The caller sends the reply and, only when it went out, calls rebootAfterSetIp().
    std::optional<DiscoveryPacket> setIp(const DiscoveryPacket& request);
    /// Prints "set OK, reboot now.", runs "sync", waits 1 s and runs "/sbin/reboot".
    void rebootAfterSetIp();

    /// DEVICE_NEW_SET_UID_REBOOT: stores the UID in the boot variables, refreshes the UID
    /// file and returns the 156 reply. Nothing when the payload is empty, shorter than its
    /// length field, or not a plain identifier.
    std::optional<DiscoveryPacket> setUid(const DiscoveryPacket& request);

    /// DEVICE_NEW_SET_MAC: acknowledged with 159, nothing changed.
    DiscoveryPacket setMac(const DiscoveryPacket& request, const std::string& clientIp);

    /// QUERY_NEW_SET_MACUID: 156 right after a set-UID, else 0; forgets the last command.
    DiscoveryPacket queryMacUid();

    /// DEVICE_RANDOM_MAC_CMD: wired DHCP in the settings, a random MAC in the boot variables,
    /// then a reboot after 3 s. No reply.
    void randomMac();

    /// DEVICE_SYS_REBOOT_CMD: "/bin/sync", three 1-second waits, "/sbin/reboot". No reply.
    void reboot();

    /// DEVICE_SYS_RESTORE_CMD: drops the factory settings copy, erases the user data flash,
    /// restores the programs from their backup and reboots. No reply.
    void restore();

    /// The last identity command (155 after a set-UID, 0 otherwise).
    int lastCommand() const { return m_lastCommand; }

private:
    bool changeSettings(const std::function<void(DeviceSettings&)>& change);

    std::string m_deviceIp;
    Sleeper m_sleep;
    int m_lastCommand = 0;
};

}  // namespace discover
