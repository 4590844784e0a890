#include "OutputPlan.h"

#include <arpa/inet.h>

#include "sluice.h"

namespace ksim {
namespace {

bool validPort(int port) {
    return port >= 1 && port <= 65535;
}

void planTarget(OutputPlan& plan, const char* kind, const std::string& host, int port,
                bool allowNetwork) {
    const std::string label = std::string(kind) + " to " + host + ":" + std::to_string(port);
    if (host.empty() || !validPort(port)) {
        plan.skipped.push_back(std::string(kind) +
                               " skipped: needs an address and a port 1-65535 (have '" + host +
                               "', " + std::to_string(port) + ")");
        return;
    }
    if (!allowNetwork && !isLoopback(host)) {
        plan.skipped.push_back(label + " skipped: " + host +
                               " is not loopback (start with --allow-network to send there)");
        return;
    }
    plan.casters.push_back({SLUICE_PROTOCOL_UDP, 0, host, port, label});
}

}  // namespace

bool isLoopback(const std::string& host) {
    if (host == "localhost") {
        return true;
    }
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) != 1) {
        return false;
    }
    return (ntohl(address.s_addr) >> 24) == 127;
}

OutputPlan planOutputs(const enc::ProtocolSettings& protocol, bool allowNetwork) {
    OutputPlan plan;
    if (protocol.tsHttpEnabled != 0) {
        if (validPort(protocol.tsHttpPort)) {
            plan.casters.push_back({SLUICE_PROTOCOL_HTTP, protocol.tsHttpPort, std::string(), 0,
                                    "HTTP-TS on port " + std::to_string(protocol.tsHttpPort)});
        } else {
            plan.skipped.push_back("HTTP-TS skipped: port " + std::to_string(protocol.tsHttpPort) +
                                   " is outside 1-65535");
        }
    }
    if (protocol.tsEnabled != 0) {
        planTarget(plan, "UDP TS", protocol.tsAddr, protocol.tsPort, allowNetwork);
    }
    if (protocol.multicastEnabled != 0) {
        planTarget(plan, "multicast", protocol.multicastAddr, protocol.multicastPort, allowNetwork);
    }
    return plan;
}

}  // namespace ksim
