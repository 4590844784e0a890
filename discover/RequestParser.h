#pragma once

#include <string>

#include "DiscoveryPacket.h"

namespace discover {

/// Reads and checks the fields of requests that anyone on the LAN can send: every field is
/// read within its own bytes, whatever the sender put there.
class RequestParser {
public:
    /// The fields of a DEVICE_BROAD_SET_IP_REQ payload, each at most 17 characters.
    struct SetIp {
        std::string origIp;
        std::string newIp;
        std::string mask;
        std::string gate;
        std::string dns;
        int dhcp = 0;
    };

    /// Longest UID the device takes.
    static constexpr size_t kMaxUidLength = 32;

    static SetIp parseSetIp(const DiscoveryPacket& request);

    /// A plain identifier: 1 to 32 letters, digits, '-', '_' or '.', not beginning with '-'.
    /// Anything else could smuggle options or shell syntax into the board tools.
    static bool isPlainUid(const std::string& text);
};

}  // namespace discover
