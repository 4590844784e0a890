#pragma once
// Device nodes: MTD flash partitions and the RTC. On the appliance these are character
// devices driven by ioctl; in the sandbox the nodes are regular files and the same calls
// are emulated on them.

#include <cstdint>
#include <string>

namespace board {

/// Opens a fixed board device path ("/dev/mtd1") under the board root; O_CLOEXEC added.
/// Returns the descriptor or -1 (errno set).
int openDevice(const std::string& boardPath, int flags);

struct MtdInfo {
    uint32_t size = 0;       // partition size in bytes
    uint32_t eraseSize = 0;  // erase-block size in bytes
};

/// Erase-block size the sandbox reports for a regular file.
constexpr uint32_t kEmulatedEraseSize = 65536;

/// MEMGETINFO. For a regular file: its size and an erase size of 65536. 0 or -1.
int mtdGetInfo(int fd, MtdInfo& info);

/// MEMERASE of [start, start + length). For a regular file the range is filled with 0xFF;
/// a range beyond the end fails with EINVAL, as the driver does. 0 or -1.
int mtdErase(int fd, uint32_t start, uint32_t length);

/// MEMUNLOCK. Nothing to do for a regular file. 0 or -1.
int mtdUnlock(int fd, uint32_t start, uint32_t length);

/// The RTC driver's time record: year (full), month 1-12, date, hour, minute, second,
/// weekday, each a signed 32-bit integer (28 bytes).
struct RtcTime {
    int32_t year;
    int32_t month;
    int32_t date;
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t weekday;
};
static_assert(sizeof(RtcTime) == 28, "the RTC driver takes a 28-byte record");

/// Request code of the RTC driver's set-time call (write direction, 28 bytes).
constexpr unsigned long kRtcSetTime = 0x401C700AUL;

/// Sets the RTC. For a regular file the record is stored at offset 0. 0 or -1.
int rtcSetTime(int fd, const RtcTime& time);

}  // namespace board
