#pragma once

#include <cstddef>
#include <cstdint>

namespace comn {

/// Append buffer with a hidden 16-byte spare area. Growth at least doubles
/// ((needed + allocated) * 2), and the byte after the contents is kept 0 after every
/// growth and write, so the contents can be read as a zero-terminated text.
/// Single owner, not copyable, not thread-safe.
class ByteBuffer {
public:
    ByteBuffer() = default;
    virtual ~ByteBuffer();
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    uint8_t* data() { return m_data; }
    const uint8_t* data() const { return m_data; }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    /// Usable bytes: allocated minus the spare area.
    size_t capacity() const { return m_allocated == 0 ? 0 : m_allocated - kSpare; }

    /// Room for n bytes in total; false only when allocation fails (buffer unchanged).
    bool ensure(size_t n) { return internalEnsure(n); }
    /// Room for n more bytes.
    bool expect(size_t n) { return ensure(m_size + n); }
    /// Appends; true also for null or empty input (nothing happens then).
    bool write(const void* bytes, size_t n);
    /// Sets the length to n within the capacity already ensured (for callers that filled
    /// data() directly, for example from a read call).
    void setSize(size_t n);
    /// Empties the contents and keeps the array.
    void clear() { m_size = 0; }
    /// Releases the array.
    void cleanup();

private:
    static constexpr uint32_t kSpare = 16;
    bool internalEnsure(size_t n);

    uint8_t* m_data = nullptr;
    uint32_t m_allocated = 0;
    uint32_t m_size = 0;
};

}  // namespace comn

using comn::ByteBuffer;
