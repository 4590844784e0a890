#pragma once
// The two boot-time modes of the program that only configure the network and exit.

#include <string>

namespace enc {

/// Mode 0: applies the settings file's address settings (a real path) to the active
/// interface. With DHCP on, starts the DHCP client; otherwise sets address, netmask and
/// default route (each only when its text is longer than six characters) and rewrites the
/// board's "/etc/resolv.conf" from dns0 (and dns1 when longer than seven characters).
/// The wired keys are used unless connectionType is 1 (Wi-Fi). Address and route failures
/// do not stop it. 0, or -1 when the settings file cannot be loaded or "/etc/resolv.conf"
/// cannot be written.
int SetNetInterface(const std::string& settingsPath);

/// Mode 2: when connectionType is 1, copies the prepared Wi-Fi client file (with or without
/// key, by the wifi "encrypt" key) to the board's "/var/wifi.conf". 0, or -1 when the
/// settings file cannot be loaded.
int generate_wifi_conf(const std::string& settingsPath);

}  // namespace enc
