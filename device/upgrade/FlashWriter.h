#pragma once
// Writing a firmware image to an MTD flash partition through the board layer (emulated on
// regular files in the sandbox).

#include <cstddef>
#include <cstdint>
#include <string>

namespace enc {

/// Largest erase block the writer supports (its block buffer).
constexpr uint32_t kMaxEraseSize = 65536;

/// Erases and writes `size` bytes of `data` from offset 0 of the partition `device` (a
/// board path such as "/dev/mtd1"): erases ceil(size / E) blocks of the partition's erase
/// size E, then writes them block by block with synchronous writes. The last, partial
/// block is padded with 0xFF (erased flash), so nothing beyond the image is read.
/// Prints its progress lines. Blocks the caller for the whole erase and write.
///
/// 0 on success. -1 when the partition cannot be opened or queried, its erase size is
/// above kMaxEraseSize, the image is empty or larger than the partition (checked before
/// anything is erased), or an erase or write fails (the partition is then partly erased).
int writeFlash(const uint8_t* data, size_t size, const std::string& device);

}  // namespace enc
