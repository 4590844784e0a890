#pragma once
// Splitting one libFuzzer input into the values a target needs: a few leading bytes as
// choices, the rest as data. Every read past the end gives zeros, so any input is usable.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }

    /// The next n bytes (fewer at the end).
    std::string_view take(size_t n) {
        const size_t k = n < m_size - m_pos ? n : m_size - m_pos;
        std::string_view out(reinterpret_cast<const char*>(m_data + m_pos), k);
        m_pos += k;
        return out;
    }

    std::string_view rest() { return take(m_size - m_pos); }
    size_t remaining() const { return m_size - m_pos; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

}  // namespace fuzz
