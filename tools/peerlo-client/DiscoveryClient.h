#pragma once

#include <netinet/in.h>

#include <string>
#include <vector>

#include "DiscoveryPacket.h"

namespace peerlo_client {

/// One datagram received by the client.
struct Reply {
    discover::DiscoveryPacket packet;  // zero-filled past the received bytes
    size_t size = 0;                   // bytes received
    std::string from;                  // sender address
    std::string to;                    // destination address of the datagram (broadcast, group
                                       // or ours)
};

/// The management tool's side of the discovery protocol: one UDP socket on an ephemeral
/// port that can send broadcast, has joined the discovery group, and collects replies.
/// Owns its socket; one thread.
class DiscoveryClient {
public:
    DiscoveryClient() = default;
    ~DiscoveryClient();
    DiscoveryClient(const DiscoveryClient&) = delete;
    DiscoveryClient& operator=(const DiscoveryClient&) = delete;

    /// Opens the socket. False (with a message on standard error) on failure.
    bool open();

    /// Sends one 200-byte packet to a dotted IPv4 address and port. False on failure
    /// (with a message on standard error).
    bool send(const discover::DiscoveryPacket& packet, const std::string& address, uint16_t port);

    /// Collects replies until timeoutMs have passed, or, with stopAfter > 0, until that many
    /// have arrived.
    std::vector<Reply> collect(int timeoutMs, size_t stopAfter = 0);

private:
    int m_fd = -1;
};

}  // namespace peerlo_client
