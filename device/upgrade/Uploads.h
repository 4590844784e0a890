#pragma once
// What happens to a file uploaded through the web server: firmware images are written to
// flash and the device reboots; pictures (logos, overlay images) are copied to their
// places on the persistent file systems.

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "EncoderConfigFile.h"

namespace enc {

/// Media-process change code announcing a firmware upgrade (sent before any flash is
/// touched, so the media process can let go of its resources).
constexpr int kUpgradeMediaCode = 100;

/// Firmware files of this size or less are ignored.
constexpr long kMinFirmwareBytes = 51200;

/// The largest picture accepted, by extension.
struct PictureLimit {
    const char* extension;
    long maxBytes;
};
const std::array<PictureLimit, 2>& pictureLimits();

/// Which setting a picture upload changes.
enum class PictureSetting {
    None,
    MainLogo,     // logo_name of master_osd_0 = the name
    SubLogo,      // logo_name of sub_osd_0 = the name
    AddPicture1,  // add_pict_1 of storage = settingValue
    AddPicture2,  // add_pict_2 of storage = settingValue
};

/// One known picture: its upload name, the setting it changes and where it is copied
/// (each copy runs "cp /var/<name> <destination>" and then "sync").
struct PictureTarget {
    std::string name;
    PictureSetting setting;
    std::string settingValue;  // for AddPicture1/2
    std::vector<std::string> destinations;
};
const std::vector<PictureTarget>& pictureTable();

/// Sends one change code to the media process.
using MediaCodeSender = std::function<void(int code)>;

/// Handles a finished upload. `filePath` is where the web server stored it, as a board
/// path in "/var/" ("/var/main.bmp"); a path already inside the sandbox root is accepted
/// as it is. Dispatches on the path:
///  - contains "kernel": an image for "/dev/mtd1", written only when "/var/kernel" exists;
///  - extension "bmp"/"jpg": a picture, checked against pictureLimits() and handled by
///    pictureTable() (setting changes are saved to `settingsPath`, a real path); other
///    names are ignored;
///  - extension "gz": code 100, then the board's "/etc/upgrade.sh";
///  - extension "sqfs"/"img": code 100, then the first of "/var/rootfs_sqfs.img",
///    "/var/rootfs_uclib_squashfs.img" (both "/dev/mtd2") and "/var/customer.sqfs"
///    ("/dev/mtd3") that opens is written;
///  - anything else is ignored.
/// Firmware of kMinFirmwareBytes or less is ignored without telling the media process. A
/// good flash write is followed by "/sbin/reboot"; a failed one only by its messages.
/// Runs on the HTTP worker and blocks it for the whole write. Results are only printed.
void handleUpload(const std::string& name, const std::string& filePath, EncoderConfigFile& settings,
                  const std::string& settingsPath, const MediaCodeSender& sendMediaCode);

}  // namespace enc
