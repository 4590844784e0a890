#include "DeviceSettings.h"

#include "SettingsKeys.h"
#include "SettingsLimits.h"
#include "board/Board.h"

namespace discover {
namespace {

// The keys peerlo reads, with the defaults it uses when they are missing.
struct TextKey {
    const char* section;
    const char* key;
    const char* def;
};
constexpr TextKey kDeviceName{"system_infor", "deviceName", "IPC"};
constexpr TextKey kDeviceType{"system_infor", "deviceType", "1080P"};
constexpr TextKey kHardware{"system_infor", "hardware", "2.0.1.1"};
constexpr TextKey kWebVersion{"system_infor", "webVersion", "2.1.0.1"};
constexpr TextKey kDhcp{enc::keys::kNetworkSection, enc::keys::kDhcp, "0"};

constexpr const char* kNetwork = enc::keys::kNetworkSection;
constexpr int kWired = 0;

}  // namespace

bool DeviceSettings::load(const std::string& boardPath) {
    m_boardPath = boardPath;
    // Loaded as is (no CR trimming) so that a save writes back exactly what was read.
    if (!m_ini.load(board::path(boardPath))) {
        m_ini.clear();
        return false;
    }
    return true;
}

std::string DeviceSettings::text(const char* section, const char* key, const char* def) const {
    return m_ini.getValue(section, key, def);
}

int DeviceSettings::connectionType() const {
    int value = kWired;
    m_ini.getValue(kNetwork, enc::keys::kConnectionType, value);
    return value;
}

int DeviceSettings::httpPort() const {
    int value = enc::defaults::kHttpPort;
    m_ini.getValue(enc::keys::kMainProtocolSection, enc::keys::kHttpPort, value);
    return value;
}

std::string DeviceSettings::deviceName() const {
    return text(kDeviceName.section, kDeviceName.key, kDeviceName.def);
}
std::string DeviceSettings::deviceType() const {
    return text(kDeviceType.section, kDeviceType.key, kDeviceType.def);
}
std::string DeviceSettings::hardware() const {
    return text(kHardware.section, kHardware.key, kHardware.def);
}
std::string DeviceSettings::webVersion() const {
    return text(kWebVersion.section, kWebVersion.key, kWebVersion.def);
}
std::string DeviceSettings::dhcpText() const {
    return text(kDhcp.section, kDhcp.key, kDhcp.def);
}

int DeviceSettings::provisionLock() const {
    int value = 0;
    m_ini.getValue(enc::keys::kSecuritySection, enc::keys::kProvisionLock, value);
    return value;
}

void DeviceSettings::setStaticAddress(const StaticAddress& address) {
    m_ini.setValue(kNetwork, enc::keys::kIp, address.ip);
    m_ini.setValue(kNetwork, enc::keys::kMask, address.mask);
    m_ini.setValue(kNetwork, enc::keys::kGate, address.gate);
    m_ini.setValue(kNetwork, enc::keys::kDnsFirst, address.dns);
    m_ini.setValue(kNetwork, enc::keys::kDhcp, address.dhcp);
    m_ini.setValue(kNetwork, enc::keys::kConnectionType, kWired);
}

void DeviceSettings::setWiredDhcp() {
    m_ini.setValue(kNetwork, enc::keys::kDhcp, 1);
    m_ini.setValue(kNetwork, enc::keys::kConnectionType, kWired);
}

bool DeviceSettings::save() const {
    // The file holds the web password: owner only, as the web server writes it.
    constexpr unsigned kSettingsFileMode = 0600;
    return m_ini.save(board::path(m_boardPath), kSettingsFileMode);
}

}  // namespace discover
