// peerlo-client: the management tool's side of the discovery protocol, for people and tests.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "DeviceList.h"
#include "DiscoveryClient.h"
#include "DiscoveryPacket.h"

namespace {

using namespace discover;
namespace DeviceList = peerlo_client::DeviceList;
using peerlo_client::DiscoveryClient;
using peerlo_client::Reply;

constexpr const char* kBroadcast = "255.255.255.255";
constexpr int kUsageError = 2;

const char* const kHelp =
    "usage: peerlo-client COMMAND [ARGS] [options]\n"
    "\n"
    "Talks to peerlo devices on the local network (UDP, port 9002).\n"
    "\n"
    "commands:\n"
    "  search                         find devices and print them as a table\n"
    "  alive                          ask devices whether they are alive\n"
    "  set-ip ORIG NEW MASK GW DNS    give the device at ORIG a new wired address\n"
    "                                 (add --dhcp to switch it to DHCP); it reboots\n"
    "  set-uid UID                    store a new UID in the boot variables\n"
    "  set-mac TEXT                   send a set-MAC request (acknowledged, no change)\n"
    "  query-uid                      ask whether a UID was set since the last query\n"
    "  random-mac                     give the device a random MAC and reboot it\n"
    "  reboot                         reboot the device\n"
    "  restore                        restore factory settings and reboot\n"
    "\n"
    "options:\n"
    "  --target ADDR    send to ADDR only (default: 255.255.255.255, and for search and\n"
    "                   alive also the group 225.192.168.225)\n"
    "  --broadcast      allow set-uid, set-mac, query-uid, random-mac, reboot and restore\n"
    "                   without --target: every device that hears them acts\n"
    "  --port N         the devices' port (default 9002)\n"
    "  --timeout SEC    how long replies are collected (default 2)\n"
    "  --json           search: print JSON instead of a table\n"
    "  --dhcp           set-ip: the device takes its address by DHCP after the reboot\n"
    "  -h, --help       this text\n"
    "\n"
    "Exit status: 0 when the request was sent and, where one is expected, answered;\n"
    "1 when nothing answered or sending failed; 2 on a usage error.\n";

struct Options {
    std::string command;
    std::vector<std::string> args;
    std::string target;
    bool broadcast = false;
    uint16_t port = kDiscoveryPort;
    int timeoutMs = 2000;
    bool json = false;
    bool dhcp = false;
};

struct CommandInfo {
    const char* name;
    int16_t code;
    size_t argCount;
    std::set<int> replies;  // codes that answer it; empty: no answer expected
    bool needsAddressing;   // acts on every device that hears it
    bool toGroupToo;        // harmless to repeat, so sent to broadcast and group
};

// A device hears a request sent to both the broadcast address and the group twice, so only
// harmless requests go to both.
const std::vector<CommandInfo> kCommands = {
    {"search", DEVICE_SEARCH_REQ, 0, {DEVICE_SEARCH_REPLY}, false, true},
    {"alive", DEVICE_ALIVE_REQ, 0, {DEVICE_ALIVE_REPLY}, false, true},
    {"set-ip", DEVICE_BROAD_SET_IP_REQ, 5, {DEVICE_BROAD_SET_IP_REPLY}, false, false},
    {"set-uid", DEVICE_NEW_SET_UID_REBOOT, 1, {DEVICE_NEW_SET_UID_REPLY}, true, false},
    {"set-mac", DEVICE_NEW_SET_MAC, 1, {DEVICE_NEW_SET_MAC_REPLY}, true, false},
    {"query-uid", QUERY_NEW_SET_MACUID, 0, {DEVICE_NEW_SET_UID_REPLY, 0}, true, false},
    {"random-mac", DEVICE_RANDOM_MAC_CMD, 0, {}, true, false},
    {"reboot", DEVICE_SYS_REBOOT_CMD, 0, {}, true, false},
    {"restore", DEVICE_SYS_RESTORE_CMD, 0, {}, true, false},
};

int usage(const char* problem) {
    std::fprintf(stderr, "peerlo-client: %s\n(see peerlo-client --help)\n", problem);
    return kUsageError;
}

bool parseOptions(int argc, char** argv, Options& o, std::string& problem) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--target" && hasValue) {
            o.target = argv[++i];
        } else if (a == "--port" && hasValue) {
            const long port = std::strtol(argv[++i], nullptr, 10);
            if (port <= 0 || port > 65535) {
                problem = "bad --port";
                return false;
            }
            o.port = static_cast<uint16_t>(port);
        } else if (a == "--timeout" && hasValue) {
            const double seconds = std::strtod(argv[++i], nullptr);
            if (!(seconds > 0 && seconds <= 3600)) {
                problem = "bad --timeout";
                return false;
            }
            o.timeoutMs = static_cast<int>(seconds * 1000);
        } else if (a == "--broadcast") {
            o.broadcast = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--dhcp") {
            o.dhcp = true;
        } else if (a.size() > 1 && a[0] == '-') {
            problem = "unknown option " + a;
            return false;
        } else if (o.command.empty()) {
            o.command = a;
        } else {
            o.args.push_back(a);
        }
    }
    return true;
}

DiscoveryPacket requestFor(const CommandInfo& info, const Options& o) {
    DiscoveryPacket p = makePacket(info.code);
    if (info.code == DEVICE_BROAD_SET_IP_REQ) {
        SetIpRequest req;
        std::memset(&req, 0, sizeof req);
        setFieldText(req.origIp, o.args[0]);
        setFieldText(req.newIp, o.args[1]);
        setFieldText(req.mask, o.args[2]);
        setFieldText(req.gate, o.args[3]);
        setFieldText(req.dns, o.args[4]);
        req.dhcp = o.dhcp ? 1 : 0;
        std::memcpy(p.payload, &req, sizeof req);
        setPacketLength(p, sizeof req);
    } else if (info.argCount == 1) {
        const std::string& text = o.args[0];
        const size_t n = std::min(text.size(), sizeof p.payload - 1);
        std::memcpy(p.payload, text.data(), n);
        setPacketLength(p, static_cast<int32_t>(n));
    }
    return p;
}

const char* replyMeaning(int code) {
    switch (code) {
        case DEVICE_ALIVE_REPLY:
            return "alive";
        case DEVICE_BROAD_SET_IP_REPLY:
            return "new address saved, rebooting";
        case DEVICE_NEW_SET_UID_REPLY:
            return "UID stored";
        case DEVICE_NEW_SET_MAC_REPLY:
            return "set-MAC acknowledged";
        case 0:
            return "no UID stored since the last query";
        default:
            return "unexpected reply";
    }
}

int search(DiscoveryClient& client, const Options& o, const std::function<void()>& askAgain) {
    // A targeted device answers twice (broadcast or unicast, and the group).
    const size_t stopAfter = o.target.empty() ? 0 : 2;
    // A device answers one search per 100 ms window, whoever asked: one that fell into
    // another tool's window goes unanswered, so it is asked again while nothing came.
    constexpr int kAskAgainMs = 300;
    constexpr int kMostAsks = 3;
    std::vector<Reply> replies;
    for (int ask = 1, waited = 0; waited < o.timeoutMs; ++ask) {
        const int slice =
            ask < kMostAsks ? std::min(kAskAgainMs, o.timeoutMs - waited) : o.timeoutMs - waited;
        auto got = client.collect(slice, stopAfter == 0 ? 0 : stopAfter - replies.size());
        replies.insert(replies.end(), got.begin(), got.end());
        waited += slice;
        if (stopAfter > 0 && replies.size() >= stopAfter) {
            break;
        }
        if (replies.empty() && ask < kMostAsks && waited < o.timeoutMs) {
            askAgain();
        }
    }
    const auto devices = DeviceList::fromReplies(replies);
    if (o.json) {
        std::fputs(DeviceList::json(devices).c_str(), stdout);
    } else if (!devices.empty()) {
        std::fputs(DeviceList::table(devices).c_str(), stdout);
    }
    if (devices.empty()) {
        std::fprintf(stderr, "peerlo-client: no device answered\n");
        return 1;
    }
    return 0;
}

int awaitReplies(DiscoveryClient& client, const CommandInfo& info, const Options& o) {
    std::set<std::pair<std::string, int>> seen;
    int answered = 0;
    for (const Reply& r : client.collect(o.timeoutMs, o.target.empty() ? 0 : 1)) {
        const int code = packetCommand(r.packet);
        if (r.size != sizeof r.packet || info.replies.count(code) == 0 ||
            !seen.insert({r.from, code}).second) {
            continue;
        }
        std::printf("%s: reply %d, ack %d (%s)\n", r.from.c_str(), code, r.packet.ack,
                    replyMeaning(code));
        ++answered;
    }
    if (answered == 0) {
        std::fprintf(stderr, "peerlo-client: no reply to %s\n", info.name);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
    }
    Options o;
    std::string problem;
    if (!parseOptions(argc, argv, o, problem)) {
        return usage(problem.c_str());
    }
    if (o.command.empty()) {
        return usage("no command given");
    }
    const CommandInfo* info = nullptr;
    for (const auto& c : kCommands) {
        if (o.command == c.name) {
            info = &c;
        }
    }
    if (info == nullptr) {
        return usage(("unknown command " + o.command).c_str());
    }
    if (o.args.size() != info->argCount) {
        return usage(("wrong number of arguments for " + o.command).c_str());
    }
    if (info->needsAddressing && o.target.empty() && !o.broadcast) {
        return usage((o.command + " acts on every device that hears it: give --target ADDR "
                                  "or --broadcast")
                         .c_str());
    }

    DiscoveryClient client;
    if (!client.open()) {
        return 1;
    }
    std::vector<std::string> destinations;
    if (!o.target.empty()) {
        destinations.push_back(o.target);
    } else {
        destinations.push_back(kBroadcast);
        if (info->toGroupToo) {
            destinations.push_back(kDiscoveryGroup);
        }
    }
    const DiscoveryPacket request = requestFor(*info, o);
    const auto sendRequest = [&] {
        bool sent = false;
        for (const auto& dest : destinations) {
            sent = client.send(request, dest, o.port) || sent;
        }
        return sent;
    };
    if (!sendRequest()) {
        return 1;
    }
    if (info->code == DEVICE_SEARCH_REQ) {
        return search(client, o, [&] { sendRequest(); });
    }
    if (info->replies.empty()) {
        std::printf("sent %s to %s\n", info->name, destinations.front().c_str());
        return 0;
    }
    return awaitReplies(client, *info, o);
}
