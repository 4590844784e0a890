#pragma once

#include <string>

namespace discover {

/// Erases a whole MTD flash partition block by block, through the board layer (emulated on
/// the sandbox's flash files).
namespace FlashEraser {

/// Opens the board device read-write with synchronous writes, unlocks and erases each
/// erase block from offset 0 to the partition's size, and prints "mtd erase OK:%s\n".
/// On failure prints why ("Could not open mtd device: %s\n", "Could not get MTD device
/// info from %s\n", "Failed to erase block on %s at 0x%x\n") and stops. 0 or -1.
int erase(const std::string& boardPath);

}  // namespace FlashEraser

}  // namespace discover
