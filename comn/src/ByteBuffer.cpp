#include "ByteBuffer.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

namespace comn {

ByteBuffer::~ByteBuffer() { cleanup(); }

bool ByteBuffer::internalEnsure(size_t n) {
    const size_t need = n + kSpare;
    if (m_allocated >= need) {
        return true;
    }
    const size_t newAllocated = (need + m_allocated) * 2;
    if (newAllocated > UINT32_MAX) {
        return false;
    }
    auto* fresh = static_cast<uint8_t*>(std::malloc(newAllocated));
    if (fresh == nullptr) {
        return false;
    }
    if (m_size > 0) {
        std::memcpy(fresh, m_data, m_size);
    }
    std::free(m_data);
    m_data = fresh;
    m_allocated = static_cast<uint32_t>(newAllocated);
    m_data[m_size] = 0;
    return true;
}

bool ByteBuffer::write(const void* bytes, size_t n) {
    if (bytes == nullptr || n == 0) {
        return true;
    }
    if (!expect(n)) {
        return false;
    }
    std::memcpy(m_data + m_size, bytes, n);
    m_size += static_cast<uint32_t>(n);
    m_data[m_size] = 0;
    return true;
}

void ByteBuffer::setSize(size_t n) {
    assert(n <= capacity());
    m_size = static_cast<uint32_t>(n);
    m_data[m_size] = 0;
}

void ByteBuffer::cleanup() {
    std::free(m_data);
    m_data = nullptr;
    m_allocated = 0;
    m_size = 0;
}

}  // namespace comn
