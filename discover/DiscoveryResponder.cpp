#include "DiscoveryResponder.h"

#include <arpa/inet.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "BoardPaths.h"
#include "DeviceRecord.h"
#include "DeviceSettings.h"
#include "NetInfo.h"
#include "Provisioner.h"

namespace discover {
namespace {

constexpr int kConnectionWifi = 1;
constexpr int kConnectionLte = 2;
constexpr int kRecordRetrySeconds = 5;
// How long one wait for a request lasts before waiting again.
constexpr int kPollSeconds = 3;

sockaddr_in ipv4(const char* dotted, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    ::inet_pton(AF_INET, dotted, &addr.sin_addr);
    return addr;
}

}  // namespace

DiscoveryResponder::DiscoveryResponder()
    : m_lock(kSettingsPath),
      m_searches(1, kSearchWindow),
      m_replies(kRepliesPerSecond, std::chrono::seconds(1)),
      m_limitNotices(1, std::chrono::minutes(1)),
      m_lockNotices(1, std::chrono::minutes(1)) {
    std::memset(&m_reply, 0, sizeof m_reply);
}

DiscoveryResponder::~DiscoveryResponder() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

DiscoveryResponder::InterfaceChoice DiscoveryResponder::chooseInterface(int connectionType,
                                                                        bool wiredLinkUp) {
    InterfaceChoice choice;
    if (connectionType == kConnectionLte) {
        choice.ifname = "eth0";
        choice.lteMode = true;
    } else {
        choice.ifname = wiredLinkUp || connectionType != kConnectionWifi ? "eth0" : "wlan0";
    }
    return choice;
}

int DiscoveryResponder::start() {
    DeviceSettings settings;
    settings.load(kSettingsPath);  // a missing file leaves the defaults
    const InterfaceChoice choice =
        chooseInterface(settings.connectionType(), NetInfo::linkUp("eth0"));
    m_ifname = choice.ifname;
    m_lteMode = choice.lteMode;
    std::puts(m_lteMode ? "4G LTE mode" : "wired or wireless net mode");

    while (DeviceRecord::buildDeviceInfo(settings, m_ifname, m_reply) != 0) {
        std::this_thread::sleep_for(std::chrono::seconds(kRecordRetrySeconds));
    }
    deviceInfoStruct record;
    std::memcpy(&record, m_reply.payload, sizeof m_reply.payload);
    const std::string deviceIp = fieldText(record.ip);
    std::printf("get valid IP address :  %s\n", deviceIp.c_str());
    m_provisioner = std::make_unique<Provisioner>(deviceIp);
    m_lock.locked();  // prints the state read at start

    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        std::perror("socket error");
        return 1;
    }
    const int on = 1;
    if (::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        std::perror("setsockopt error");
        return 1;
    }
    if (::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        std::perror("setsockopt error, broadcast");
        return 1;
    }
    ip_mreq group{};
    ::inet_pton(AF_INET, kDiscoveryGroup, &group.imr_multiaddr);
    group.imr_interface.s_addr = htonl(INADDR_ANY);
    if (::setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) != 0) {
        std::perror("setsockopt:IP_ADD_MEMBERSHIP error!\n");
    }
    sockaddr_in local = ipv4("0.0.0.0", kDiscoveryPort);
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        std::perror("Error in bind \n");
        return 1;
    }
    std::printf("start device discover sever\n");
    return 0;
}

int DiscoveryResponder::run() {
    DiscoveryPacket request;
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_fd, &readable);
        timeval wait{kPollSeconds, 0};
        const int ready = ::select(m_fd + 1, &readable, nullptr, nullptr, &wait);
        if (ready < 0 && errno != EINTR) {
            std::perror("select error");  // would fail forever: end like a read error
            return 1;
        }
        if (ready <= 0) {
            m_lock.locked();  // a lock set meanwhile shows in the log without a request
            continue;         // time-out or a signal: wait again
        }
        // Zero-filled first, so a short datagram reads as a search request.
        std::memset(&request, 0, sizeof request);
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n = ::recvfrom(m_fd, &request, sizeof request, 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::perror("recvfrom error");
            return 1;
        }
        handle(request, from);
    }
}

bool DiscoveryResponder::changesDevice(int16_t command) {
    switch (command) {
        case DEVICE_BROAD_SET_IP_REQ:
        case DEVICE_NEW_SET_UID_REBOOT:
        case DEVICE_NEW_SET_MAC:
        case DEVICE_RANDOM_MAC_CMD:
        case DEVICE_SYS_REBOOT_CMD:
        case DEVICE_SYS_RESTORE_CMD:
            return true;
        default:
            return false;
    }
}

bool DiscoveryResponder::refusedByLock(int16_t command, const sockaddr_in& from) {
    if (!changesDevice(command) || !m_lock.locked()) {
        return false;
    }
    if (m_lockNotices.allow(from.sin_addr.s_addr, SenderRateLimit::Clock::now())) {
        char sender[INET_ADDRSTRLEN] = {0};
        ::inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
        std::printf("provisioning locked: command %d from %s ignored\n", command, sender);
    }
    return true;
}

void DiscoveryResponder::handle(const DiscoveryPacket& request, const sockaddr_in& from) {
    const int16_t command = packetCommand(request);
    if (refusedByLock(command, from)) {
        return;  // nothing is sent: a locked device does not confirm what it refused
    }
    switch (command) {
        case DEVICE_SEARCH_REQ:
            if (m_searches.allow(RateWindow::Clock::now())) {
                answerSearch(from);
            }
            break;
        case DEVICE_ALIVE_REQ:
            sendTo(makePacket(DEVICE_ALIVE_REPLY, 1), from, "sendto error");
            break;
        case DEVICE_BROAD_SET_IP_REQ:
            if (const auto reply = m_provisioner->setIp(request)) {
                // Reboot only once the tool has its answer; the change is saved either way.
                if (sendTo(*reply, from, "sendto error")) {
                    m_provisioner->rebootAfterSetIp();
                }
            }
            break;
        case DEVICE_NEW_SET_UID_REBOOT:
            if (const auto reply = m_provisioner->setUid(request)) {
                sendTo(*reply, from, "sendto error");
            }
            break;
        case DEVICE_NEW_SET_MAC: {
            char client[INET_ADDRSTRLEN] = {0};
            ::inet_ntop(AF_INET, &from.sin_addr, client, sizeof client);
            sendTo(m_provisioner->setMac(request, client), from, "sendto error");
            break;
        }
        case QUERY_NEW_SET_MACUID:
            sendTo(m_provisioner->queryMacUid(), from, "sendto error");
            break;
        case DEVICE_RANDOM_MAC_CMD:
            m_provisioner->randomMac();
            break;
        case DEVICE_SYS_REBOOT_CMD:
            m_provisioner->reboot();
            break;
        case DEVICE_SYS_RESTORE_CMD:
            m_provisioner->restore();
            break;
        default:
            break;  // unknown codes (10 among them) get no answer
    }
}

void DiscoveryResponder::answerSearch(const sockaddr_in& from) {
    if (m_lteMode) {
        // Over the modem link a broadcast would not reach the tool.
        sendTo(m_reply, from, "sendto error, broad_ip");
    } else {
        sendTo(m_reply, ipv4("255.255.255.255", ntohs(from.sin_port)), "sendto error, broad_ip");
    }
    sendTo(m_reply, ipv4(kDiscoveryGroup, ntohs(from.sin_port)), "sendto error, group_ip");
}

bool DiscoveryResponder::sendTo(const DiscoveryPacket& packet, const sockaddr_in& to,
                                const char* errorText) {
    const auto now = RateWindow::Clock::now();
    if (!m_replies.allow(now)) {
        ++m_unanswered;
        if (m_limitNotices.allow(now)) {
            std::printf("reply limit: at most %u datagrams a second, %lu left unsent so far\n",
                        kRepliesPerSecond, m_unanswered);
        }
        return false;
    }
    const ssize_t n = ::sendto(m_fd, &packet, sizeof packet, 0,
                               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (n != static_cast<ssize_t>(sizeof packet)) {
        std::perror(errorText);
        return false;
    }
    return true;
}

}  // namespace discover
