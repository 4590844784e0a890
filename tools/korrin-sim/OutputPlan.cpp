#include "OutputPlan.h"

#include <arpa/inet.h>

#include <cstdlib>

#include "SettingsKeys.h"
#include "sluice.h"

namespace ksim {
namespace {

bool validPort(int port) {
    return port >= 1 && port <= 65535;
}

// A listener may also take port 0: one of the system's choice, shown once it listens.
bool validListenPort(int port) {
    return port >= 0 && port <= 65535;
}

bool planTarget(OutputPlan& plan, const char* kind, const std::string& host, int port,
                bool allowNetwork, int protocol = SLUICE_PROTOCOL_UDP) {
    const std::string label = std::string(kind) + " to " + host + ":" + std::to_string(port);
    if (host.empty() || !validPort(port)) {
        plan.skipped.push_back(std::string(kind) +
                               " skipped: needs an address and a port 1-65535 (have '" + host +
                               "', " + std::to_string(port) + ")");
        return false;
    }
    if (!allowNetwork && !isLoopback(host)) {
        plan.skipped.push_back(label + " skipped: " + host +
                               " is not loopback (start with --allow-network to send there)");
        return false;
    }
    plan.casters.push_back({protocol, 0, host, port, label, {}});
    return true;
}

std::vector<CasterOption> srtOptions(const enc::SrtSettings& srt) {
    std::vector<CasterOption> options{{"latency", std::to_string(srt.latency)}};
    if (!srt.passphrase.empty()) {
        options.push_back({"passphrase", srt.passphrase});
    }
    options.push_back({"pbkeylen", std::to_string(srt.keyLength)});
    if (!srt.streamId.empty()) {
        options.push_back({"streamid", srt.streamId});
    }
    return options;
}

void planSrt(OutputPlan& plan, const enc::SrtSettings& srt, bool allowNetwork) {
    if (srt.mode == enc::keys::kSrtModeListener) {
        if (!validListenPort(srt.port)) {
            plan.skipped.push_back("SRT listener skipped: port " + std::to_string(srt.port) +
                                   " is outside 0-65535");
            return;
        }
        plan.casters.push_back({SLUICE_PROTOCOL_SRT, srt.port, std::string(), 0,
                                "SRT listener on port " + std::to_string(srt.port),
                                srtOptions(srt)});
    } else if (srt.mode == enc::keys::kSrtModeCaller) {
        if (planTarget(plan, "SRT caller", srt.callerAddr, srt.callerPort, allowNetwork,
                       SLUICE_PROTOCOL_SRT)) {
            plan.casters.back().options = srtOptions(srt);
        }
    } else {
        plan.skipped.push_back("SRT skipped: mode '" + srt.mode +
                               "' is neither listener nor caller");
    }
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
        if (validListenPort(protocol.tsHttpPort)) {
            plan.casters.push_back({SLUICE_PROTOCOL_HTTP,
                                    protocol.tsHttpPort,
                                    std::string(),
                                    0,
                                    "HTTP-TS on port " + std::to_string(protocol.tsHttpPort),
                                    {}});
        } else {
            plan.skipped.push_back("HTTP-TS skipped: port " + std::to_string(protocol.tsHttpPort) +
                                   " is outside 0-65535");
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

void planRtsp(OutputPlan& plan, const enc::ProtocolSettings& protocol,
              const std::string& passwordFile) {
    if (protocol.rtspEnabled == 0) {
        return;
    }
    if (!validPort(protocol.rtspPort)) {
        plan.skipped.push_back("RTSP skipped: port " + std::to_string(protocol.rtspPort) +
                               " is outside 1-65535");
        return;
    }
    std::string path = protocol.rtspName;
    if (path.empty() || path[0] != '/') {
        path = "/" + path;
    }
    CasterPlan caster{SLUICE_PROTOCOL_RTSP,
                      protocol.rtspPort,
                      std::string(),
                      0,
                      "RTSP on port " + std::to_string(protocol.rtspPort) + " at " + path,
                      {{"path", path}}};
    if (!passwordFile.empty()) {
        caster.options.push_back({"auth_file", passwordFile});
    }
    plan.casters.push_back(std::move(caster));
}

void planRtmp(OutputPlan& plan, const enc::ProtocolSettings& protocol, bool allowNetwork) {
    if (protocol.rtmpEnabled == 0) {
        return;
    }
    std::string url = protocol.rtmpAddr;
    const bool isUrl = url.compare(0, 7, "rtmp://") == 0 || url.compare(0, 8, "rtmps://") == 0;
    if (!isUrl) {
        url = "rtmp://" + url + ":" + std::to_string(protocol.rtmpPort) + "/" + protocol.rtmpDir +
              "/" + protocol.rtmpNode;
    }
    const size_t authority = url.find("://") + 3;
    const size_t pathStart = url.find('/', authority);
    std::string hostPort = url.substr(authority, pathStart - authority);
    const size_t at = hostPort.rfind('@');
    if (at != std::string::npos) {
        hostPort.erase(0, at + 1);
    }
    const std::string shown = url.substr(0, authority) + hostPort +
                              (pathStart == std::string::npos ? "" : url.substr(pathStart));
    if (at == std::string::npos && !protocol.rtmpUser.empty()) {
        url.insert(authority, protocol.rtmpUser + ":" + protocol.rtmpPassword + "@");
    }
    const size_t colon = hostPort.rfind(':');
    const std::string host = hostPort.substr(0, colon);
    int port = url.compare(0, 8, "rtmps://") == 0 ? 443 : 1935;  // the schemes' defaults
    if (colon != std::string::npos) {
        port = std::atoi(hostPort.c_str() + colon + 1);
    }
    if (host.empty() || pathStart == std::string::npos || !validPort(port)) {
        plan.skipped.push_back("RTMP push skipped: '" + shown + "' names no server and port");
        return;
    }
    if (!allowNetwork && !isLoopback(host)) {
        plan.skipped.push_back("RTMP push to " + shown + " skipped: " + host +
                               " is not loopback (start with --allow-network to send there)");
        return;
    }
    plan.casters.push_back(
        {SLUICE_PROTOCOL_RTMP, 0, host, port, kRtmpLabel + shown, {{"url", url}}});
}

void planHttpOutputs(OutputPlan& plan, const enc::ProtocolSettings& protocol,
                     const std::string& defaultName) {
    struct Output {
        int enabled;
        int port;
        std::string name;
        int sluiceProtocol;
        const char* kind;
        const char* suffix;
    };
    const Output outputs[] = {
        {protocol.hlsEnabled, protocol.hlsPort, protocol.hlsAddr, SLUICE_PROTOCOL_HLS, "HLS",
         ".m3u8"},
        {protocol.flvEnabled, protocol.flvPort, protocol.flvAddr, SLUICE_PROTOCOL_FLV, "HTTP-FLV",
         ".flv"},
    };
    for (const Output& output : outputs) {
        if (output.enabled == 0) {
            continue;
        }
        if (!validListenPort(output.port)) {
            plan.skipped.push_back(std::string(output.kind) + " skipped: port " +
                                   std::to_string(output.port) + " is outside 0-65535");
            continue;
        }
        std::string name = output.name.empty() ? defaultName : output.name;
        if (name[0] != '/') {
            name = "/" + name;
        }
        plan.casters.push_back({output.sluiceProtocol,
                                output.port,
                                std::string(),
                                0,
                                std::string(output.kind) + " on port " +
                                    std::to_string(output.port) + " at " + name + output.suffix,
                                {{"path", name}}});
    }
}

OutputPlan planOutputs(const enc::ProtocolSettings& protocol, const enc::SrtSettings& srt,
                       bool allowNetwork) {
    OutputPlan plan = planOutputs(protocol, allowNetwork);
    if (srt.enabled != 0) {
        planSrt(plan, srt, allowNetwork);
    }
    return plan;
}

int64_t muxRate(int videoKbps, int audioBps) {
    const int64_t media = int64_t{videoKbps} * 1000 + audioBps;
    return media + media / 10 + 100'000;
}

void planMuxRate(OutputPlan& plan, int videoKbps, int audioBps) {
    const std::string rate = std::to_string(muxRate(videoKbps, audioBps));
    for (CasterPlan& caster : plan.casters) {
        // Only the casters that send the transport stream as it is multiplexed.
        const int p = caster.protocol;
        if (p == SLUICE_PROTOCOL_UDP || p == SLUICE_PROTOCOL_RTP || p == SLUICE_PROTOCOL_TCP ||
            p == SLUICE_PROTOCOL_HTTP || p == SLUICE_PROTOCOL_SRT) {
            caster.options.insert(caster.options.begin(), {"muxrate", rate});
        }
    }
}

}  // namespace ksim
