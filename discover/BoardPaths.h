#pragma once
// The fixed board paths peerlo touches. Each goes through board::path() before use, so
// the sandbox (BOARD_ROOT) sees them inside its own tree.

namespace discover {

constexpr const char* kSettingsPath = "/mnt/config/encoder.ini";
constexpr const char* kUidPath = "/tmp/uid.txt";
constexpr const char* kRoutePath = "/proc/net/route";
constexpr const char* kResolvPath = "/etc/resolv.conf";
/// The factory copy of the settings, dropped by the restore.
constexpr const char* kFactorySettingsPath = "/customer/encoder.ini";
/// The user data flash partition, erased by the restore.
constexpr const char* kUserDataFlash = "/dev/mtd9";

}  // namespace discover
