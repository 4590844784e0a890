#include "FlvTagCounter.h"

#include <algorithm>

namespace {

// "FLV", version, flags, header size (9), then the first previous-tag-size field.
constexpr size_t kFileHead = 9 + 4;
// Type, data size (24 bits), timestamp (32), stream id (24); then the first two data bytes,
// which tell a sequence header from a frame.
constexpr size_t kTagHead = 11 + 2;
constexpr uint8_t kAudio = 8;
constexpr uint8_t kVideo = 9;

bool isFrame(uint8_t type, uint32_t size, uint8_t first, uint8_t second) {
    if (size < 2) {
        return false;
    }
    // AVC and AAC tags say what they carry: 0 a sequence header, 1 a frame (AVC: 2 the end
    // of the sequence).
    if (type == kVideo) {
        return (first & 0x0f) != 7 || second == 1;
    }
    if (type == kAudio) {
        return (first >> 4) != 10 || second == 1;
    }
    return false;
}

}  // namespace

void FlvTagCounter::feed(const char* data, size_t size) {
    while (size > 0 && !m_broken) {
        if (m_skip > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(m_skip, size));
            m_skip -= n;
            data += n;
            size -= n;
            continue;
        }
        const size_t need = m_started ? kTagHead : kFileHead;
        const size_t take = std::min(need - m_head.size(), size);
        m_head.append(data, take);
        data += take;
        size -= take;
        if (m_head.size() < need) {
            return;
        }
        const auto* head = reinterpret_cast<const uint8_t*>(m_head.data());
        if (!m_started) {
            m_broken = m_head.compare(0, 3, "FLV") != 0;
            m_started = true;
        } else {
            const uint32_t length = static_cast<uint32_t>(head[1]) << 16 |
                                    static_cast<uint32_t>(head[2]) << 8 | head[3];
            m_frames += isFrame(head[0] & 0x1f, length, head[11], head[12]) ? 1 : 0;
            // The two bytes already taken belong to the data, or to the size after it.
            m_skip = static_cast<uint64_t>(length) + 4 - 2;
        }
        m_head.clear();
    }
}
