#pragma once
// Requests as the management tool sends them, for the provisioner and process tests.

#include <algorithm>
#include <cstring>
#include <string>

#include "DiscoveryPacket.h"

namespace peerlo_test {

inline discover::DiscoveryPacket setIpRequest(const std::string& orig, const std::string& ip,
                                              const std::string& mask = "255.255.0.0",
                                              const std::string& gate = "10.0.0.1",
                                              const std::string& dns = "8.8.8.8",
                                              uint8_t dhcp = 0) {
    using namespace discover;
    DiscoveryPacket p = makePacket(DEVICE_BROAD_SET_IP_REQ, 0, sizeof(SetIpRequest));
    SetIpRequest req;
    std::memset(&req, 0, sizeof req);
    setFieldText(req.origIp, orig);
    setFieldText(req.newIp, ip);
    setFieldText(req.mask, mask);
    setFieldText(req.gate, gate);
    setFieldText(req.dns, dns);
    req.dhcp = dhcp;
    std::memcpy(p.payload, &req, sizeof req);
    return p;
}

/// A request whose payload is text, with the length field given separately.
inline discover::DiscoveryPacket textRequest(int16_t command, const std::string& text,
                                             int32_t length) {
    discover::DiscoveryPacket p = discover::makePacket(command, 0, length);
    std::memcpy(p.payload, text.data(), std::min(text.size(), sizeof p.payload));
    return p;
}

}  // namespace peerlo_test
