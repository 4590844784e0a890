#include "H264PropDetector.h"

#include <cstring>

namespace av {

bool isStartCode(const uint8_t* bytes, size_t n) {
    if (bytes == nullptr || n < 4) {
        return false;
    }
    if (bytes[0] != 0 || bytes[1] != 0) {
        return false;
    }
    return bytes[2] == 1 || (bytes[2] == 0 && bytes[3] == 1);
}

long findStartCode(const uint8_t* bytes, size_t n, size_t from) {
    if (bytes == nullptr || n <= 4) {
        return -1;
    }
    // Only a zero byte can begin a start code; memchr skips the long runs without one (most
    // of a coded picture) many bytes at a time. Every frame is scanned on the writer's
    // thread, so this is the cost of each caster per byte of video.
    const size_t limit = n - 4;
    for (size_t i = from; i < limit; ++i) {
        const void* zero = std::memchr(bytes + i, 0, limit - i);
        if (zero == nullptr) {
            return -1;
        }
        i = static_cast<size_t>(static_cast<const uint8_t*>(zero) - bytes);
        if (isStartCode(bytes + i, n - i)) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

bool H264PropDetector::setCodec(int codec) {
    if (codec != kH264 && codec != kH265) {
        return false;
    }
    m_codec = codec;
    return true;
}

namespace {

bool isH264Key(int type) {
    return type == 5 || type == 6 || type == 7 || type == 8;
}

bool isH265Key(int type) {
    return type == 19 || type == 20 || type == 21 || type == 32 || type == 33 || type == 34 ||
           type == 39;
}

}  // namespace

void H264PropDetector::parse(const uint8_t* frame, size_t n, bool& isKey, int& nalType) const {
    if (!isStartCode(frame, n) || m_codec == 0) {
        return;
    }
    size_t pos = 0;
    while (pos < n) {
        const long next = findStartCode(frame, n, pos + 3);
        const size_t end = next < 0 ? n : static_cast<size_t>(next);
        const size_t prefix = frame[pos + 2] == 1 ? 3 : 4;
        if (pos + prefix < end) {
            const uint8_t header = frame[pos + prefix];
            if (m_codec == kH264) {
                nalType = header & 0x1F;
                isKey = isKey || isH264Key(nalType);
            } else {
                nalType = (header & 0x7E) >> 1;
                isKey = isKey || isH265Key(nalType);
            }
        }
        pos = end;
    }
}

}  // namespace av
