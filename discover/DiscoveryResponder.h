#pragma once

#include <netinet/in.h>

#include <memory>
#include <string>

#include "DiscoveryPacket.h"
#include "ProvisionLock.h"
#include "SenderRateLimit.h"

namespace discover {

class Provisioner;

/// The discovery daemon: builds the device record once, then answers the datagrams on UDP
/// 9002 (broadcast and the group 225.192.168.225) one at a time and hands provisioning
/// commands to a Provisioner. One thread; the object owns its socket.
///
/// Searches are answered at most kSearchesPerSecond times a second per sender. While the
/// settings lock provisioning (ProvisionLock), every command that changes the device is
/// ignored without an answer and printed once per sender and minute; searches, alive
/// requests and the UID query are still answered.
class DiscoveryResponder {
public:
    DiscoveryResponder();
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    /// Loads the settings, chooses the interface, builds the device record (retrying every
    /// 5 seconds, without limit, while the interface has no address) and opens the socket.
    /// 0, or 1 when the socket cannot be set up (after perror).
    int start();

    /// Answers requests until a receive error; then returns 1 (after perror).
    int run();

    /// The interface the record describes: "eth0" when its link is up, else "wlan0" for a
    /// Wi-Fi connection (1), else "eth0". Connection type 2 (LTE) is "eth0" in LTE mode,
    /// where search replies go to the sender instead of the broadcast address.
    struct InterfaceChoice {
        std::string ifname;
        bool lteMode = false;
    };
    static InterfaceChoice chooseInterface(int connectionType, bool wiredLinkUp);

    /// Search answers per sender and second: a tool searches a few times; more is a flood
    /// that each answer would multiply onto the whole LAN (broadcast and group).
    static constexpr unsigned kSearchesPerSecond = 10;

    /// True for the commands that change the device (address, UID, MAC, reboot, restore).
    static bool changesDevice(int16_t command);

private:
    void handle(const DiscoveryPacket& request, const sockaddr_in& from);
    bool sendTo(const DiscoveryPacket& packet, const sockaddr_in& to, const char* errorText);
    void answerSearch(const sockaddr_in& from);

    int m_fd = -1;
    std::string m_ifname;
    bool m_lteMode = false;
    DiscoveryPacket m_reply;  // the discovery reply, built once at start
    bool refusedByLock(int16_t command, const sockaddr_in& from);

    std::unique_ptr<Provisioner> m_provisioner;
    ProvisionLock m_lock;
    SenderRateLimit m_searches;
    SenderRateLimit m_lockNotices;  // one printed line per sender and minute
};

}  // namespace discover
