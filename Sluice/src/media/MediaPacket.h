#pragma once

#include <cstddef>
#include <cstdint>

#include "MemBuffer.h"

namespace av {

/// One unit of data inside the library (an encoded frame or a chunk of transport stream)
/// with an owned, growable byte store. Shared between a caster and its client connections;
/// nobody changes a packet once it has been handed on. Not thread-safe.
///
/// `data` and `size` always mirror the store after any operation that changes it.
class MediaPacket {
public:
    MediaPacket() = default;
    explicit MediaPacket(size_t capacity) : m_buffer(capacity) { refresh(); }
    virtual ~MediaPacket() = default;
    MediaPacket(const MediaPacket&) = delete;
    MediaPacket& operator=(const MediaPacket&) = delete;

    uint8_t* data = nullptr;
    uint32_t size = 0;
    int32_t type = 0;  // 0 video, 1 audio
    int64_t pts = 0;
    int32_t duration = 0;
    int32_t flags = 0;  // bit 0: key frame

    /// Store capacity at least n (the store's doubling rule).
    void reserve(size_t n);
    size_t capacity() const { return m_buffer.capacity(); }
    /// Length n; new bytes are not initialised.
    void resize(size_t n);
    void append(const void* bytes, size_t n);
    void assign(const void* bytes, size_t n);
    /// Copies type, pts, duration, flags and the bytes of other.
    void copyFrom(const MediaPacket& other);
    /// Empties the store (capacity kept) and zeroes type, pts, duration and flags.
    void clear();

    bool isVideo() const { return type == 0; }
    bool isKey() const { return (flags & 1) != 0; }

private:
    void refresh() {
        data = m_buffer.data();
        size = static_cast<uint32_t>(m_buffer.size());
    }

    MemBuffer m_buffer;
};

}  // namespace av
