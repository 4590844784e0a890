#pragma once
// Names of settings keys that another program or mode reads or writes on its own (peerlo
// changes the wired network keys and reads the web port and the provisioning lock; the boot
// modes read the address keys), so that all name them from one place.

namespace enc::keys {

inline constexpr const char* kNetworkSection = "network";
inline constexpr const char* kConnectionType = "connectionType";  // 0 wired, 1 Wi-Fi, 2 LTE
inline constexpr const char* kDhcp = "dhcp";
inline constexpr const char* kIp = "ip";
inline constexpr const char* kMask = "mask";
inline constexpr const char* kGate = "gate";
inline constexpr const char* kDnsFirst = "dns0";
inline constexpr const char* kDnsSecond = "dns1";
inline constexpr const char* kMac = "mac";

// The Wi-Fi client (its address keys are named as the wired ones: kIp, kMask, kGate).
inline constexpr const char* kWifiSection = "wifi";
inline constexpr const char* kEncrypt = "encrypt";

inline constexpr const char* kMainProtocolSection = "master_protocol";
inline constexpr const char* kHttpPort = "httpPort";

// The security switches, 0 or 1 each (SecuritySettings).
inline constexpr const char* kSecuritySection = "security";
inline constexpr const char* kHttpsOnly = "httpsOnly";
inline constexpr const char* kProvisionLock = "provisionLock";

// The SRT output of a stream (SrtSettings), read by the media process.
inline constexpr const char* kSrtSectionSuffix = "srt";  // "master_srt", "sub_srt"
inline constexpr const char* kSrtModeListener = "listener";
inline constexpr const char* kSrtModeCaller = "caller";

}  // namespace enc::keys
