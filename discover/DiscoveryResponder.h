#pragma once

#include <netinet/in.h>

#include <memory>
#include <string>

#include "DiscoveryPacket.h"
#include "ProvisionLock.h"
#include "RateWindow.h"
#include "SenderRateLimit.h"

namespace discover {

class Provisioner;

/// The discovery daemon: builds the device record once, then answers the datagrams on UDP
/// 9002 (broadcast and the group 225.192.168.225) one at a time and hands provisioning
/// commands to a Provisioner. One thread; the object owns its socket.
///
/// What it sends is bounded whatever the senders, since anyone on the LAN can send with any
/// source address: one search answer per kSearchWindow, and kRepliesPerSecond datagrams a
/// second in all (search answers, alive and provisioning replies); beyond that requests go
/// unanswered (a set-IP reply held back is a failed send: no reboot), printed once a minute
/// with the count. While the settings lock provisioning (ProvisionLock), every command that
/// changes the device is ignored without an answer and printed once per sender and minute;
/// searches, alive requests and the UID query are still answered.
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

    /// One search answer per window, whoever asked: the answer goes to the whole LAN
    /// (broadcast and group), and a tool that searched within another's window asks again
    /// or hears that answer; a flood of searches, from one address or a thousand spoofed
    /// ones, gets ten answers a second.
    static constexpr std::chrono::milliseconds kSearchWindow{100};
    /// Datagrams sent per second in all: a tool needs a handful; a 6-byte request answered
    /// with 200 bytes to any claimed source would make the device an amplifier.
    static constexpr unsigned kRepliesPerSecond = 50;

    /// True for the commands that change the device (address, UID, MAC, reboot, restore).
    static bool changesDevice(int16_t command);

private:
    void handle(const DiscoveryPacket& request, const sockaddr_in& from);
    /// Sends one datagram within the reply budget; false when over it or the send failed.
    bool sendTo(const DiscoveryPacket& packet, const sockaddr_in& to, const char* errorText);
    void answerSearch(const sockaddr_in& from);

    int m_fd = -1;
    std::string m_ifname;
    bool m_lteMode = false;
    DiscoveryPacket m_reply;  // the discovery reply, built once at start
    bool refusedByLock(int16_t command, const sockaddr_in& from);

    std::unique_ptr<Provisioner> m_provisioner;
    ProvisionLock m_lock;
    RateWindow m_searches;
    RateWindow m_replies;
    RateWindow m_limitNotices;  // one printed line a minute while over the budget
    unsigned long m_unanswered = 0;
    SenderRateLimit m_lockNotices;  // one printed line per sender and minute
};

}  // namespace discover
