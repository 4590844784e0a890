#include "NetModes.h"

#include <arpa/inet.h>

#include <cstdio>

#include "IniFile.h"
#include "NetChange.h"
#include "NetQuery.h"
#include "SettingsKeys.h"
#include "board/Board.h"
#include "board/Command.h"

namespace enc {
namespace {

// Texts this short cannot be a useful address ("0.0.0.0" is seven).
constexpr size_t kShortestAddress = 6;
// A second name server of seven characters has always been left out.
constexpr size_t kShortestSecondDns = 7;

struct AddressSettings {
    int dhcp = 0;
    std::string ip;
    std::string mask;
    std::string gate;
    std::string dns0;
    std::string dns1;
    std::string mac;
};

// A text that is no address is left alone rather than applied as 255.255.255.255.
bool applyAddress(const char* what, const std::string& text, uint32_t& address) {
    in_addr in{};
    if (::inet_pton(AF_INET, text.c_str(), &in) != 1) {
        std::printf("%s is not an address: %s\n", what, text.c_str());
        return false;
    }
    address = in.s_addr;
    return true;
}

int writeResolver(const AddressSettings& s) {
    FILE* file = std::fopen(board::path("/etc/resolv.conf").c_str(), "w");
    if (file == nullptr) {
        std::perror("/etc/resolv.conf");
        return -1;
    }
    std::fprintf(file, "nameserver %s\n", s.dns0.c_str());
    if (s.dns1.size() > kShortestSecondDns && isValidIpv4(s.dns1)) {
        std::fprintf(file, "nameserver %s\n", s.dns1.c_str());
    }
    return std::fclose(file) == 0 ? 0 : -1;
}

}  // namespace

int SetNetInterface(const std::string& settingsPath) {
    comn::IniFile ini;
    if (!ini.load(settingsPath)) {
        std::printf("%s, %d, can not open config file : %s\n", "SetNetInterface", __LINE__,
                    settingsPath.c_str());
        return -1;
    }
    std::printf("SetNetInterface, load config file OK !\n");
    std::string name;
    getActiveInterface(name);
    std::printf("net name : %s\n", name.c_str());

    AddressSettings s;
    int connectionType = 0;
    ini.getValue(keys::kNetworkSection, keys::kConnectionType, connectionType);
    const char* addressSection = keys::kNetworkSection;
    if (connectionType != 1) {
        std::printf("use wired : %s\n", name.c_str());
    } else {
        std::printf("use wifi : %s\n", name.c_str());
        addressSection = keys::kWifiSection;
    }
    ini.getValue(keys::kNetworkSection, keys::kDhcp, s.dhcp);
    ini.getValue(addressSection, keys::kIp, s.ip);
    ini.getValue(addressSection, keys::kMask, s.mask);
    ini.getValue(addressSection, keys::kGate, s.gate);
    ini.getValue(keys::kNetworkSection, keys::kDnsFirst, s.dns0);
    ini.getValue(keys::kNetworkSection, keys::kDnsSecond, s.dns1);
    if (connectionType != 1) {
        ini.getValue(keys::kNetworkSection, keys::kMac, s.mac);
    }
    std::printf("DHCP:%d\n", s.dhcp);
    std::printf("ip:%s\n", s.ip.c_str());
    std::printf("mask:%s\n", s.mask.c_str());
    std::printf("gate:%s\n", s.gate.c_str());
    std::printf("dns0:%s\n", s.dns0.c_str());
    std::printf("dns1:%s\n", s.dns1.c_str());
    std::printf("mac:%s\n", s.mac.c_str());
    std::fflush(stdout);

    if (s.dhcp != 0) {
        std::printf("DHCP mode\n");
        startDhcp(name);
        return 0;
    }
    std::printf("manual IP mode\n");
    uint32_t address = 0;
    if (s.ip.size() > kShortestAddress) {
        std::printf("SET IP, %s\n", s.ip.c_str());
        if (applyAddress("ip", s.ip, address)) {
            setInterfaceAddress(name, address);
        }
    }
    if (s.mask.size() > kShortestAddress) {
        std::printf("SET mask:%s\n", s.mask.c_str());
        if (applyAddress("mask", s.mask, address)) {
            setInterfaceNetmask(name, address);
        }
    }
    if (s.gate.size() > kShortestAddress) {
        std::printf("SET gateway : %s\n", s.gate.c_str());
        if (applyAddress("gateway", s.gate, address)) {
            deleteDefaultRoute(address);
            addDefaultRoute(address);
        }
    }
    int result = 0;
    if (s.dns0.size() > kShortestAddress) {
        std::printf("SET DNS0 : %s, DNS1:%s\n", s.dns0.c_str(), s.dns1.c_str());
        // The resolver reads what it gets its own way ("010.0.0.1" as octal): only
        // complete addresses go there, as the API and peerlo take them.
        if (isValidIpv4(s.dns0)) {
            result = writeResolver(s);
        } else {
            std::printf("dns0 is not an address: %s\n", s.dns0.c_str());
        }
    }
    std::fflush(stdout);
    return result;
}

int generate_wifi_conf(const std::string& settingsPath) {
    comn::IniFile ini;
    if (!ini.load(settingsPath)) {
        std::printf("%s, %d, can not open config file : %s\n", "generate_wifi_conf", __LINE__,
                    settingsPath.c_str());
        return -1;
    }
    int connectionType = 0;
    ini.getValue(keys::kNetworkSection, keys::kConnectionType, connectionType);
    if (connectionType == 1) {
        int encrypt = 0;
        ini.getValue(keys::kWifiSection, keys::kEncrypt, encrypt);
        const std::string source =
            encrypt != 0 ? "/mnt/config/wifi_conf_key.conf" : "/mnt/config/wifi_conf_nokey.conf";
        board::RunOptions options;
        // Logged as the boot scripts have always written it, two blanks included.
        options.logText = "cp " + source + "  /var/wifi.conf";
        board::run({"cp", source, "/var/wifi.conf"}, options);
        std::printf("generate wifi config file OK. /var/wifi.conf \n");
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace enc
