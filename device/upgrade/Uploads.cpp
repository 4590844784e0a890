#include "Uploads.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <new>

#include "Console.h"
#include "FlashWriter.h"
#include "board/Board.h"
#include "board/Command.h"

namespace enc {
namespace {

constexpr const char* kLogoDirectory = "/customer/logo/";
constexpr const char* kUploadDirectory = "/var/";
constexpr const char* kKernelMarker = "/var/kernel";
constexpr const char* kKernelPartition = "/dev/mtd1";

struct FirmwareImage {
    const char* file;
    const char* partition;
};
// Tried in this order; the first that opens is written.
constexpr FirmwareImage kFirmwareImages[] = {
    {"/var/rootfs_sqfs.img", "/dev/mtd2"},
    {"/var/rootfs_uclib_squashfs.img", "/dev/mtd2"},
    {"/var/customer.sqfs", "/dev/mtd3"},
};

// The logo target is formed as "<dir>/<name>"; the doubled slash is harmless.
std::string logoTarget(const std::string& name) {
    return std::string(kLogoDirectory) + "/" + name;
}

// The web server may hand over the board path or the already resolved one.
std::string realPath(const std::string& storedPath) {
    const std::string root = board::root();
    if (!root.empty() && storedPath.compare(0, root.size() + 1, root + "/") == 0) {
        return storedPath;
    }
    return board::path(storedPath);
}

std::string extensionOf(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) {
        return std::string();
    }
    return path.substr(dot + 1);
}

std::string fileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool fileSize(const std::string& file, long& size) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        return false;
    }
    size = static_cast<long>(st.st_size);
    return true;
}

bool boardFileExists(const char* boardPath) {
    return ::access(board::path(boardPath).c_str(), F_OK) == 0;
}

// Reads the whole image; an allocation failure is reported as the device always did.
bool readImage(std::ifstream& in, long size, std::unique_ptr<uint8_t[]>& data) {
    data.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
    if (!data) {
        say("can not malloc for upgrade\n");
        return false;
    }
    in.read(reinterpret_cast<char*>(data.get()), size);
    return in.gcount() == size;
}

void announceUpgrade(const MediaCodeSender& sendMediaCode) {
    if (sendMediaCode) {
        sendMediaCode(kUpgradeMediaCode);
    }
}

void flashAndReboot(const uint8_t* data, long size, const char* partition) {
    say("update mtd:%s\n", partition);
    if (writeFlash(data, static_cast<size_t>(size), partition) == 0) {
        say("write image OK\n");
        board::reboot();
    }
}

void handleKernel(const std::string& storedPath, const MediaCodeSender& sendMediaCode) {
    const std::string file = realPath(storedPath);
    long size = 0;
    if (!fileSize(file, size)) {
        std::perror(storedPath.c_str());
        return;
    }
    if (size <= kMinFirmwareBytes) {
        return;
    }
    announceUpgrade(sendMediaCode);
    if (!boardFileExists(kKernelMarker)) {
        say("no update file:%s\n", storedPath.c_str());
        return;
    }
    std::ifstream in(file, std::ios::binary);
    std::unique_ptr<uint8_t[]> data;
    if (!in || !readImage(in, size, data)) {
        say("can not get image file\n");
        return;
    }
    flashAndReboot(data.get(), size, kKernelPartition);
}

void handleFirmware(const std::string& storedPath, const std::string& extension,
                    const MediaCodeSender& sendMediaCode) {
    long size = 0;
    if (!fileSize(realPath(storedPath), size)) {
        std::perror(storedPath.c_str());
        return;
    }
    if (size <= kMinFirmwareBytes) {
        return;
    }
    announceUpgrade(sendMediaCode);
    if (extension == "gz") {
        board::run({"/etc/upgrade.sh"});
        return;
    }
    bool anyExists = false;
    for (const auto& image : kFirmwareImages) {
        anyExists = anyExists || boardFileExists(image.file);
    }
    if (!anyExists) {
        say("no update file:%s, or:%s, %s\n", kFirmwareImages[0].file, kFirmwareImages[2].file,
            kFirmwareImages[1].file);
        return;
    }
    for (const auto& image : kFirmwareImages) {
        std::ifstream in(board::path(image.file), std::ios::binary);
        if (!in) {
            continue;
        }
        // The image's own size: a leftover image from an earlier upload may differ in size
        // from the file just uploaded, and nothing beyond its end may be written.
        long imageSize = 0;
        std::unique_ptr<uint8_t[]> data;
        if (!fileSize(board::path(image.file), imageSize) || imageSize <= 0 ||
            !readImage(in, imageSize, data)) {
            say("can not get image file\n");
            return;
        }
        flashAndReboot(data.get(), imageSize, image.partition);
        return;
    }
    say("can not get image file\n");
}

long pictureLimit(const std::string& extension) {
    for (const auto& limit : pictureLimits()) {
        if (extension == limit.extension) {
            return limit.maxBytes;
        }
    }
    return 0;
}

void applyPicture(const PictureTarget& target, EncoderConfigFile& settings,
                  const std::string& settingsPath) {
    std::string* field = nullptr;
    const void* record = nullptr;
    std::string value = target.settingValue;
    switch (target.setting) {
        case PictureSetting::MainLogo:
            say("2-picture name : %s\n", target.name.c_str());
            field = &settings.logo[0].name;
            record = &settings.logo[0];
            value = target.name;
            break;
        case PictureSetting::SubLogo:
            say("3-picture name : %s\n", target.name.c_str());
            field = &settings.logo[1].name;
            record = &settings.logo[1];
            value = target.name;
            break;
        case PictureSetting::AddPicture1:
            field = &settings.sysInfo.add_pict_1;
            record = &settings.sysInfo;
            break;
        case PictureSetting::AddPicture2:
            field = &settings.sysInfo.add_pict_2;
            record = &settings.sysInfo;
            break;
        case PictureSetting::None:
            break;
    }
    std::string error;
    if (field != nullptr && !settings.update(
                                settingsPath, {record}, [&] { *field = value; }, &error)) {
        say("save settings failed\n");
        say("%s\n", error.c_str());
    }
    const std::string source = kUploadDirectory + target.name;
    for (const auto& destination : target.destinations) {
        board::run({"cp", source, destination});
        board::syncStorage(board::SyncSpelling::Bare);
    }
}

void handlePicture(const std::string& storedPath, const std::string& extension,
                   EncoderConfigFile& settings, const std::string& settingsPath) {
    const std::string file = realPath(storedPath);
    std::ifstream in(file, std::ios::binary);
    long size = 0;
    if (!in || !fileSize(file, size)) {
        say("can not open logo file :%s\n", storedPath.c_str());
        return;
    }
    const long limit = pictureLimit(extension);
    if (size > limit) {
        say("too large file > %d B\n", static_cast<int>(limit));
        return;
    }
    const std::string name = fileNameOf(storedPath);
    for (const auto& target : pictureTable()) {
        if (target.name == name) {
            applyPicture(target, settings, settingsPath);
            return;
        }
    }
}

}  // namespace

const std::array<PictureLimit, 2>& pictureLimits() {
    static const std::array<PictureLimit, 2> limits = {{
        {"bmp", 204800},
        {"jpg", 102400},
    }};
    return limits;
}

const std::vector<PictureTarget>& pictureTable() {
    static const std::vector<PictureTarget> table = [] {
        const std::vector<std::string> overlayCopies = {"/mnt/config/", "/mnt/config/main.jpg",
                                                        "/mnt/config/sub.jpg"};
        std::vector<PictureTarget> t = {
            {"main.bmp", PictureSetting::MainLogo, "", {logoTarget("main.bmp")}},
            {"main.jpg", PictureSetting::MainLogo, "", {logoTarget("main.jpg")}},
            {"sub.bmp", PictureSetting::SubLogo, "", {logoTarget("sub.bmp")}},
            {"sub.jpg", PictureSetting::SubLogo, "", {logoTarget("sub.jpg")}},
            {"add_1.jpg", PictureSetting::AddPicture1, "/mnt/param/add_1.jpg", {"/mnt/param/"}},
            {"add_2.jpg", PictureSetting::AddPicture2, "/mnt/param/add_2.jpg", {"/mnt/param/"}},
        };
        for (int i = 1; i <= 5; ++i) {
            t.push_back(
                {"osd_" + std::to_string(i) + ".jpg", PictureSetting::None, "", overlayCopies});
        }
        return t;
    }();
    return table;
}

void handleUpload(const std::string& name, const std::string& filePath, EncoderConfigFile& settings,
                  const std::string& settingsPath, const MediaCodeSender& sendMediaCode) {
    // Both come from the client: escaped, they cannot forge lines of the log.
    say("%s, %d, name:%s, filepath:%s\n", "handleUpload", __LINE__,
        board::escapeControls(name).c_str(), board::escapeControls(filePath).c_str());
    const std::string extension = extensionOf(filePath);
    if (extension.empty()) {
        return;
    }
    if (filePath.find("kernel") != std::string::npos) {
        handleKernel(filePath, sendMediaCode);
    } else if (extension == "bmp" || extension == "jpg") {
        handlePicture(filePath, extension, settings, settingsPath);
    } else if (extension == "gz" || extension == "sqfs" || extension == "img") {
        handleFirmware(filePath, extension, sendMediaCode);
    }
}

}  // namespace enc
