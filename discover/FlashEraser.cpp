#include "FlashEraser.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "board/Device.h"

namespace discover {

int FlashEraser::erase(const std::string& boardPath) {
    const int fd = board::openDevice(boardPath, O_RDWR | O_SYNC);
    if (fd < 0) {
        std::fprintf(stderr, "Could not open mtd device: %s\n", boardPath.c_str());
        return -1;
    }
    int result = 0;
    board::MtdInfo info;
    // An erase size of 0 would never advance through the partition.
    if (board::mtdGetInfo(fd, info) != 0 || info.eraseSize == 0) {
        std::printf("Could not get MTD device info from %s\n", boardPath.c_str());
        result = -1;
    } else {
        for (uint64_t offset = 0; offset < info.size; offset += info.eraseSize) {
            const auto start = static_cast<uint32_t>(offset);
            board::mtdUnlock(fd, start, info.eraseSize);  // a locked block fails the erase anyway
            if (board::mtdErase(fd, start, info.eraseSize) != 0) {
                std::printf("Failed to erase block on %s at 0x%x\n", boardPath.c_str(), start);
                result = -1;
                break;
            }
        }
    }
    ::close(fd);
    if (result == 0) {
        std::printf("mtd erase OK:%s\n", boardPath.c_str());
    }
    return result;
}

}  // namespace discover
