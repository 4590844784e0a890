#pragma once

#include <string>

#include "IniFile.h"

namespace discover {

/// The keys of the settings file ("/mnt/config/encoder.ini") that peerlo reads and changes.
///
/// Reads fall back to the documented defaults when a key (or the whole file) is missing.
/// The setters change only the keys they name; save() writes the file as last loaded with
/// those keys changed, so every other section, key and comment stays as it was.
/// Not thread-safe (peerlo has one thread).
class DeviceSettings {
public:
    /// The new wired configuration of a set-IP request (already validated).
    struct StaticAddress {
        std::string ip;
        std::string mask;
        std::string gate;
        std::string dns;
        int dhcp = 0;
    };

    /// Loads the settings file at a board path. False when it cannot be read; the model is
    /// then empty and every read gives its default.
    bool load(const std::string& boardPath);

    /// network/connectionType: 0 wired, 1 Wi-Fi, 2 LTE (default 0).
    int connectionType() const;
    /// master_protocol/httpPort (default 80).
    int httpPort() const;
    /// system_infor/deviceName, deviceType, hardware, webVersion; network/dhcp, as text.
    std::string deviceName() const;
    std::string deviceType() const;
    std::string hardware() const;
    std::string webVersion() const;
    std::string dhcpText() const;
    /// security/provisionLock (default 0: unlocked).
    int provisionLock() const;

    /// network: ip, mask, gate, dns0, dhcp, and connectionType 0 (wired).
    void setStaticAddress(const StaticAddress& address);
    /// network: dhcp 1 and connectionType 0 (the random-MAC command's reset).
    void setWiredDhcp();

    /// Saves atomically to the board path last loaded (or given to load()), mode 0600 (the
    /// file holds the web password). False on error; the previous file then stays intact.
    bool save() const;

private:
    std::string text(const char* section, const char* key, const char* def) const;

    comn::IniFile m_ini;
    std::string m_boardPath;
};

}  // namespace discover
