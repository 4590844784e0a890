#include "MemBuffer.h"

#include <cstdlib>
#include <cstring>

namespace comn {

bool MemBuffer::reserve(size_t n) {
    if (m_capacity >= n) {
        return false;
    }
    size_t fresh = m_capacity == 0 ? n : m_capacity;
    while (fresh < n) {
        fresh *= 2;
    }
    if (fresh >= UINT32_MAX) {
        return false;
    }
    auto* bytes = static_cast<uint8_t*>(std::malloc(fresh + 1));
    if (bytes == nullptr) {
        return false;
    }
    if (m_size > 0) {
        std::memcpy(bytes, m_data, m_size);
    }
    std::free(m_data);
    m_data = bytes;
    m_capacity = static_cast<uint32_t>(fresh);
    m_data[m_size] = 0;
    return true;
}

void MemBuffer::resize(size_t n) {
    reserve(n);
    if (n <= m_capacity) {
        m_size = static_cast<uint32_t>(n);
    }
}

bool MemBuffer::append(const void* bytes, size_t n) {
    if (n == 0) {
        return true;
    }
    const size_t need = static_cast<size_t>(m_size) + n;
    reserve(need);
    if (need > m_capacity) {
        return false;  // allocation failed; contents unchanged
    }
    std::memcpy(m_data + m_size, bytes, n);
    m_size += static_cast<uint32_t>(n);
    return true;
}

void MemBuffer::release() {
    if (m_data != nullptr) {
        std::free(m_data);
        m_data = nullptr;
    }
    m_size = 0;
    m_capacity = 0;
}

void MemBuffer::copyFrom(const MemBuffer& other) {
    if (&other == this) {
        return;
    }
    clear();
    append(other.data(), other.size());
}

}  // namespace comn
