#pragma once
// The remote upgrade path: the board's "/etc/upgrade_remote.sh" fetches an upgrade package
// or a version file from an HTTP server into "/var/". The script's result is judged only
// by the file it leaves.

#include <string>

#include "EncoderRecords.h"

namespace enc {

/// Longest command text the board's shell was ever given; longer server addresses are
/// refused rather than cut.
constexpr size_t kMaxUpgradeCommand = 127;

/// Prints "http upgrade now" and "http cmd:<command>", runs
/// "/etc/upgrade_remote.sh <serverIP> upgrade_pack.tar.gz" (the address as one argument,
/// never through a shell). 0 when "/var/upgrade_pack.tar.gz" exists afterwards (a stale
/// copy is removed first), -1 otherwise.
int httpUpgrade(const UpgradeServerSettings& request);

/// Prints "http detect version" and "http cmd:<command>", runs
/// "/etc/upgrade_remote.sh <serverIP> version.txt"; inOut.version becomes the first line
/// of "/var/version.txt" (at most 255 characters, newline kept), or "" when the script
/// left no file (a stale copy is removed first). Always 0.
int httpDetect(UpgradeServerSettings& inOut);

/// The upgrade state for "/update-status": always "finished"; 0.
int getUpdateStatus(std::string& status);

/// "/update": nothing to do; 0.
int handleUpdate(const std::string& uploadedFilePath);

}  // namespace enc
