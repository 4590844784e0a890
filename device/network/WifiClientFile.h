#pragma once
// The Wi-Fi client configuration files the boot scripts hand to wpa_supplicant.

#include <string>

#include "EncoderRecords.h"

namespace enc {

/// Board paths of the two prepared files; the Wi-Fi boot mode copies one of them into place.
constexpr const char* kWifiKeyFile = "/mnt/config/wifi_conf_key.conf";
constexpr const char* kWifiNoKeyFile = "/mnt/config/wifi_conf_nokey.conf";

/// Writes the client file for the saved Wi-Fi settings. Nothing for an empty essid.
/// Encrypted (encrypt nonzero): only for a key of 8 to 63 characters, runs
/// "/usr/local/bin/wpa_passphrase" with essid and key as two arguments (no shell) and writes
/// its output without the "#psk=" comment (the passphrase in plain text) into kWifiKeyFile,
/// mode 0600; another key length, or a failing tool, leaves the previous file. Open network:
/// kWifiNoKeyFile from openNetworkText(). True when a file was written.
bool writeWifiClientFile(const WifiSettings& wifi);

/// The open-network configuration for an essid, byte for byte as wpa_supplicant on the
/// board has always been given it (tab indentation included). Line breaks in the essid
/// become blanks, as in the settings file, so it cannot add lines of its own.
std::string openNetworkText(const std::string& essid);

}  // namespace enc
