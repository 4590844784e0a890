#include "DeviceRecord.h"

#include <cstdio>
#include <cstring>

#include "BoardPaths.h"
#include "DeviceSettings.h"
#include "NetInfo.h"
#include "SystemFiles.h"
#include "board/Board.h"

namespace discover {
namespace {

// The netmask always comes from the wired interface, even when the record describes wlan0.
constexpr const char* kWiredInterface = "eth0";

}  // namespace

int DeviceRecord::buildDeviceInfo(const DeviceSettings& settings, const std::string& ifname,
                                  DiscoveryPacket& reply) {
    DeviceFacts facts;
    facts.httpPort = settings.httpPort();
    const auto ip = NetInfo::address(ifname);
    if (!ip) {
        std::printf("get ip error.\n");
        return -1;
    }
    facts.ip = *ip;
    if (const auto routes = SystemFiles::read(kRoutePath)) {
        facts.gateway = SystemFiles::defaultGateway(*routes);
    } else {
        std::printf("Open route error!!!\n");
    }
    facts.mask = NetInfo::netmask(kWiredInterface).value_or(std::string());
    facts.mac = NetInfo::mac(ifname).value_or(std::string());
    if (const auto resolv = SystemFiles::read(kResolvPath)) {
        facts.dns = SystemFiles::firstNameServer(*resolv);
    }

    facts.deviceName = settings.deviceName();
    // Both texts come from files others write (the web pages, the UID command).
    std::printf("devie name:%s\n", board::escapeControls(facts.deviceName).c_str());
    facts.deviceType = settings.deviceType();
    facts.webVersion = settings.webVersion();
    facts.hardware = settings.hardware();
    facts.dhcp = settings.dhcpText();

    if (const auto uidText = SystemFiles::read(kUidPath)) {
        facts.uid = SystemFiles::firstWord(*uidText);
    } else {
        std::printf("%s, %d\n", "setStruContFromP2Pid", __LINE__);
        facts.uid = kPlaceholderUid;
    }
    std::printf("UID:%s\n", board::escapeControls(facts.uid).c_str());

    reply = discoveryReply(toRecord(facts));
    return 0;
}

deviceInfoStruct DeviceRecord::toRecord(const DeviceFacts& facts) {
    deviceInfoStruct r;
    std::memset(&r, 0, sizeof r);
    setFieldText(r.deviceName, facts.deviceName);
    setFieldText(r.ip, facts.ip);
    setRecordHttpPort(r, facts.httpPort);
    setFieldText(r.deviceType, facts.deviceType);
    setFieldText(r.webVersion, facts.webVersion);
    setFieldText(r.hardware, facts.hardware);
    setFieldText(r.mask, facts.mask);
    setFieldText(r.gateway, facts.gateway);
    setFieldText(r.dns, facts.dns);
    setFieldText(r.mac, facts.mac);
    setFieldText(r.dhcp, facts.dhcp);
    setFieldText(r.uid, facts.uid);
    return r;
}

DiscoveryPacket DeviceRecord::discoveryReply(const deviceInfoStruct& record) {
    DiscoveryPacket p = makePacket(DEVICE_SEARCH_REPLY, 0, sizeof(deviceInfoStruct));
    std::memcpy(p.magic, "MO_I", sizeof p.magic);
    // The datagram is 200 bytes, so only the record's first 176 bytes travel.
    std::memcpy(p.payload, &record, sizeof p.payload);
    return p;
}

}  // namespace discover
