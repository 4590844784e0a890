#include "MediaPacket.h"

namespace av {

void MediaPacket::reserve(size_t n) {
    m_buffer.reserve(n);
    refresh();
}

void MediaPacket::resize(size_t n) {
    m_buffer.resize(n);
    refresh();
}

void MediaPacket::append(const void* bytes, size_t n) {
    m_buffer.append(bytes, n);
    refresh();
}

void MediaPacket::assign(const void* bytes, size_t n) {
    m_buffer.clear();
    append(bytes, n);
}

void MediaPacket::copyFrom(const MediaPacket& other) {
    type = other.type;
    pts = other.pts;
    duration = other.duration;
    flags = other.flags;
    if (&other != this) {
        assign(other.data, other.size);
    }
}

void MediaPacket::clear() {
    m_buffer.clear();
    type = 0;
    pts = 0;
    duration = 0;
    flags = 0;
    refresh();
}

}  // namespace av
