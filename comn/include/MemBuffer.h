#pragma once

#include <cstddef>
#include <cstdint>

namespace comn {

/// Growable byte array whose capacity doubles (the payload store of every media packet).
/// One spare byte past the capacity keeps the contents zero-terminated after growth.
/// Single owner, not thread-safe; copying is explicit (copyFrom).
class MemBuffer {
public:
    MemBuffer() = default;
    /// Reserves the initial capacity at once.
    explicit MemBuffer(size_t capacity) { reserve(capacity); }
    virtual ~MemBuffer() { release(); }
    MemBuffer(const MemBuffer&) = delete;
    MemBuffer& operator=(const MemBuffer&) = delete;

    uint8_t* data() { return m_data; }
    const uint8_t* data() const { return m_data; }
    size_t size() const { return m_size; }
    size_t capacity() const { return m_capacity; }
    bool empty() const { return m_size == 0; }

    /// Capacity at least n: n itself from 0, else the capacity doubled until it fits.
    /// True when it grew; false when it was already large enough or allocation failed
    /// (the buffer is then unchanged).
    bool reserve(size_t n);
    /// reserve(n), then the length becomes n (new bytes are not initialised). The length
    /// stays when the allocation fails.
    void resize(size_t n);
    /// Appends n bytes; false only when the allocation fails.
    bool append(const void* bytes, size_t n);
    /// Length 0, capacity kept.
    void clear() { m_size = 0; }
    /// Frees the array.
    void release();
    /// Replaces the contents with a copy of other's.
    void copyFrom(const MemBuffer& other);

private:
    uint32_t m_capacity = 0;
    uint32_t m_size = 0;
    uint8_t* m_data = nullptr;
};

}  // namespace comn

using comn::MemBuffer;
