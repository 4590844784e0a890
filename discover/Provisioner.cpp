#include "Provisioner.h"

#include "Ipv4.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "BoardPaths.h"
#include "EncoderConfigFile.h"
#include "FileLock.h"
#include "FlashEraser.h"
#include "RandomMac.h"
#include "RequestParser.h"
#include "board/Board.h"
#include "board/Command.h"

namespace discover {
namespace {

constexpr const char* kNvramSet = "/usr/sbin/nvram_set";
constexpr const char* kNvramGet = "/usr/sbin/nvram_get";
// The shortest address text the device accepts: seven characters would be "1.2.3.4" at most.
constexpr size_t kShortestNewIp = 8;

void realSleep(unsigned seconds) {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

bool exists(const std::string& boardPath) {
    return ::access(board::path(boardPath).c_str(), F_OK) == 0;
}

// Anyone on the LAN writes these texts: printed escaped, so no request can forge a line of
// peerlo.log or send escape sequences to a terminal.
std::string shown(const std::string& fromNetwork) {
    return board::escapeControls(fromNetwork);
}

void printLengthAndText(const DiscoveryPacket& request) {
    std::printf("len:%d---%s\n", packetLength(request), shown(payloadText(request)).c_str());
}

}  // namespace

Provisioner::Provisioner(std::string deviceIp, Sleeper sleeper)
    : m_deviceIp(std::move(deviceIp)), m_sleep(sleeper ? std::move(sleeper) : realSleep) {}

bool Provisioner::changeSettings(const std::function<void(DeviceSettings&)>& change) {
    // Quillon takes the same lock for its read-change-write turn: neither loses the
    // other's keys.
    const comn::FileLock lock(enc::EncoderConfigFile::lockPath(board::path(kSettingsPath)));
    if (!lock.held()) {
        std::printf("can not lock config file : %s\n", lock.error().c_str());
        return false;
    }
    DeviceSettings settings;
    // A missing file is started afresh; one that exists but cannot be read must not be
    // replaced by a file holding only our keys.
    if (!settings.load(kSettingsPath) && exists(kSettingsPath)) {
        std::printf("can not open config file : %s\n", kSettingsPath);
        return false;
    }
    change(settings);
    if (!settings.save()) {
        std::printf("can not save config file : %s\n", kSettingsPath);
        return false;
    }
    return true;
}

std::optional<DiscoveryPacket> Provisioner::setIp(const DiscoveryPacket& request) {
    const RequestParser::SetIp req = RequestParser::parseSetIp(request);
    std::printf("DEVICE_BROAD_SET_IP_REQ, orig ip:%s, set ip:%s\n", shown(req.origIp).c_str(),
                shown(req.newIp).c_str());
    const bool forUs = req.origIp == m_deviceIp;
    const bool valid = req.newIp.size() >= kShortestNewIp && comn::isValidIpv4(req.newIp) &&
                       comn::isValidIpv4(req.mask) && comn::isValidIpv4(req.gate) &&
                       comn::isValidIpv4(req.dns);
    if (!forUs || !valid) {
        std::printf("invalid IP\n");
        return std::nullopt;
    }
    std::printf("set my IP now\n");
    DeviceSettings::StaticAddress address;
    address.ip = req.newIp;
    address.mask = req.mask;
    address.gate = req.gate;
    address.dns = req.dns;
    address.dhcp = req.dhcp;
    // No acknowledgement (and so no reboot) unless the new settings are really stored.
    if (!changeSettings([&](DeviceSettings& s) { s.setStaticAddress(address); })) {
        return std::nullopt;
    }
    return makePacket(DEVICE_BROAD_SET_IP_REPLY, 1, packetLength(request));
}

void Provisioner::rebootAfterSetIp() {
    std::printf("set OK, reboot now.\n");
    board::syncStorage(board::SyncSpelling::Bare);
    m_sleep(1);
    board::reboot();
}

std::optional<DiscoveryPacket> Provisioner::setUid(const DiscoveryPacket& request) {
    std::printf("DEVICE_NEW_SET_UID_REBOOT:\n");
    printLengthAndText(request);
    const std::string uid = payloadText(request);
    if (uid.empty() || static_cast<long long>(uid.size()) < packetLength(request) ||
        !RequestParser::isPlainUid(uid)) {
        return std::nullopt;
    }
    m_lastCommand = DEVICE_NEW_SET_UID_REBOOT;
    const std::vector<std::string> set{kNvramSet, "boot", "UID", uid};
    std::printf("cmd: %s\n", shown(board::commandText(set, {})).c_str());
    board::run(set);
    board::RunOptions toUidFile;
    toUidFile.stdoutTo = kUidPath;
    board::run({kNvramGet, "boot", "UID"}, toUidFile);
    return makePacket(DEVICE_NEW_SET_UID_REPLY, 1, packetLength(request));
}

DiscoveryPacket Provisioner::setMac(const DiscoveryPacket& request, const std::string& clientIp) {
    std::printf("DEVICE_NEW_SET_MAC:\n");
    printLengthAndText(request);
    std::printf("client IP:%s\n", shown(clientIp).c_str());
    return makePacket(DEVICE_NEW_SET_MAC_REPLY, 1, packetLength(request));
}

DiscoveryPacket Provisioner::queryMacUid() {
    std::printf("QUERY_NEW_SET_MACUID\n");
    const int16_t code = m_lastCommand == DEVICE_NEW_SET_UID_REBOOT ? DEVICE_NEW_SET_UID_REPLY : 0;
    std::printf("curCmd:%d, ocmd:%d\n", m_lastCommand, code);
    m_lastCommand = 0;
    return makePacket(code, 1);
}

void Provisioner::randomMac() {
    changeSettings([](DeviceSettings& s) { s.setWiredDhcp(); });
    board::syncStorage(board::SyncSpelling::Bare);
    const std::string mac = RandomMac::make();
    std::printf("random mac   %s\n", mac.c_str());
    const std::vector<std::string> set{kNvramSet, "boot", "ethaddr", mac};
    std::printf("random mac cmd:%s\n", board::commandText(set, {}).c_str());
    board::run(set);
    m_sleep(3);
    board::reboot();
}

void Provisioner::reboot() {
    std::printf("recv DEVICE_SYS_REBOOT_CMD, peerlo: sleep 3, /sbin/reboot\n");
    board::syncStorage();
    for (int i = 1; i <= 3; ++i) {
        m_sleep(1);
        std::printf("DEVICE_SYS_REBOOT_CMD !! sleep(1) %d times!!\n", i);
    }
    board::reboot();
}

void Provisioner::restore() {
    std::printf("DEVICE_SYS_RESTORE_CMD\n");
    ::unlink(board::path(kFactorySettingsPath).c_str());
    // The programs are restored and the device reboots whatever the erase gave.
    FlashEraser::erase(kUserDataFlash);
    board::run({"cp", "/etc/fs-version", "/customer/"});
    board::run({"cp", "/customer/app_back/korrin", "/customer/"});
    board::run({"cp", "/customer/app_back/tessel", "/customer/"});
    board::syncStorage(board::SyncSpelling::Bare);
    board::run({"reboot"});
}

}  // namespace discover
