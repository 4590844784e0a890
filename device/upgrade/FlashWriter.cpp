#include "FlashWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Console.h"
#include "board/Device.h"

namespace enc {
namespace {

// Pauses the flash driver was always given between operations.
constexpr useconds_t kEraseGapUs = 100;
constexpr useconds_t kWriteGapUs = 10;
constexpr useconds_t kLastBlockGapUs = 1000;
// Progress marks: a line break every 5 erased blocks, "$" every 8 written blocks and a
// line break every 128.
constexpr size_t kEraseMarksPerLine = 5;
constexpr size_t kWriteMarkEvery = 8;
constexpr size_t kWriteLineEvery = 128;

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Writes one whole erase block at the block's offset through a fresh synchronous
// descriptor. The block buffer always holds eraseSize bytes.
bool writeBlock(const std::string& device, const std::vector<uint8_t>& block, size_t offset) {
    say("write flash offset:%d, size:%d\n", static_cast<int>(offset),
        static_cast<int>(block.size()));
    Descriptor fd(board::openDevice(device, O_RDWR | O_SYNC));
    ssize_t written = -1;
    if (fd.get() >= 0 && ::lseek(fd.get(), static_cast<off_t>(offset), SEEK_SET) >= 0) {
        written = ::write(fd.get(), block.data(), block.size());
    }
    if (written != static_cast<ssize_t>(block.size())) {
        std::perror("write flash");
        say("write flash error,ret:%d, g_flash_fd = %d\n", static_cast<int>(written), fd.get());
        return false;
    }
    return true;
}

}  // namespace

int writeFlash(const uint8_t* data, size_t size, const std::string& device) {
    board::MtdInfo info;
    {
        Descriptor fd(board::openDevice(device, O_RDWR));
        if (fd.get() < 0 || board::mtdGetInfo(fd.get(), info) != 0) {
            std::perror(device.c_str());
            return -1;
        }
        say("info.size = 0x%x, info.erasesize=0x%x\n", info.size, info.eraseSize);
    }
    const size_t eraseSize = info.eraseSize;
    if (eraseSize == 0 || eraseSize > kMaxEraseSize) {
        say("unsupported erase size 0x%x\n", info.eraseSize);
        return -1;
    }
    const size_t blocks = (size + eraseSize - 1) / eraseSize;
    // Refused before anything is erased: a half-erased kernel partition is a dead device.
    if (data == nullptr || size == 0 || blocks * eraseSize > info.size) {
        say("image of %zu bytes does not fit partition %s (0x%x bytes)\n", size, device.c_str(),
            info.size);
        return -1;
    }

    Descriptor fd(board::openDevice(device, O_RDWR));
    if (fd.get() < 0) {
        std::perror(device.c_str());
        return -1;
    }
    say("==>erasesize:%d,  start erase sectors --->>>", static_cast<int>(eraseSize));
    for (size_t k = 0; k < blocks; ++k) {
        if (board::mtdErase(fd.get(), static_cast<uint32_t>(k * eraseSize),
                            static_cast<uint32_t>(eraseSize)) != 0) {
            say("erase flash error.\n");
            return -1;
        }
        ::usleep(kEraseGapUs);
        if (k % kEraseMarksPerLine == 0) {
            say("\n");
        }
        say("#");
    }

    say("\n==>write flash,please waiting... ");
    std::vector<uint8_t> block(eraseSize);
    const size_t wholeBlocks = size / eraseSize;
    for (size_t k = 0; k < wholeBlocks; ++k) {
        std::memcpy(block.data(), data + k * eraseSize, eraseSize);
        if (!writeBlock(device, block, k * eraseSize)) {
            return -1;
        }
        if (k % kWriteLineEvery == 0) {
            say("\n");
        }
        if (k % kWriteMarkEvery == 0) {
            say("$\n");
        }
        ::usleep(kWriteGapUs);
    }
    const size_t rest = size % eraseSize;
    if (rest != 0) {
        std::fill(block.begin(), block.end(), 0xFF);  // erased flash beyond the image
        std::memcpy(block.data(), data + wholeBlocks * eraseSize, rest);
        if (!writeBlock(device, block, wholeBlocks * eraseSize)) {
            return -1;
        }
        ::usleep(kLastBlockGapUs);
    }
    say("\n write ramdisk to flash success !\n");
    return 0;
}

}  // namespace enc
