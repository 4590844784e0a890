#include "board/Device.h"

#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "board/Board.h"

namespace board {
namespace {

bool isRegularFile(int fd) {
    struct stat st{};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

int openDevice(const std::string& boardPath, int flags) {
    return ::open(path(boardPath).c_str(), flags | O_CLOEXEC);
}

int mtdGetInfo(int fd, MtdInfo& info) {
    if (isRegularFile(fd)) {
        struct stat st{};
        ::fstat(fd, &st);
        info.size = static_cast<uint32_t>(st.st_size);
        info.eraseSize = kEmulatedEraseSize;
        return 0;
    }
    mtd_info_user mtd{};
    if (::ioctl(fd, MEMGETINFO, &mtd) != 0) {
        return -1;
    }
    info.size = mtd.size;
    info.eraseSize = mtd.erasesize;
    return 0;
}

int mtdErase(int fd, uint32_t start, uint32_t length) {
    if (isRegularFile(fd)) {
        struct stat st{};
        ::fstat(fd, &st);
        if (static_cast<uint64_t>(start) + length > static_cast<uint64_t>(st.st_size)) {
            errno = EINVAL;
            return -1;
        }
        const std::vector<uint8_t> erased(length, 0xFF);
        ssize_t n = ::pwrite(fd, erased.data(), erased.size(), start);
        return n == static_cast<ssize_t>(length) ? 0 : -1;
    }
    erase_info_user erase{start, length};
    return ::ioctl(fd, MEMERASE, &erase) == 0 ? 0 : -1;
}

int mtdUnlock(int fd, uint32_t start, uint32_t length) {
    if (isRegularFile(fd)) {
        return 0;
    }
    erase_info_user range{start, length};
    return ::ioctl(fd, MEMUNLOCK, &range) == 0 ? 0 : -1;
}

int rtcSetTime(int fd, const RtcTime& time) {
    if (isRegularFile(fd)) {
        ssize_t n = ::pwrite(fd, &time, sizeof time, 0);
        return n == static_cast<ssize_t>(sizeof time) ? 0 : -1;
    }
    RtcTime copy = time;
    return ::ioctl(fd, kRtcSetTime, &copy) == 0 ? 0 : -1;
}

}  // namespace board
