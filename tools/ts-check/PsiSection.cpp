#include "PsiSection.h"

void PsiSection::feed(const uint8_t* payload, size_t size, bool start) {
    if (start) {
        if (size == 0) {
            return;
        }
        const size_t pointer = payload[0];
        if (1 + pointer > size) {
            m_collecting = false;
            return;
        }
        // The bytes before the pointer end a section begun in an earlier packet.
        if (m_collecting) {
            m_buffer.insert(m_buffer.end(), payload + 1, payload + 1 + pointer);
            flushComplete();
        }
        m_buffer.assign(payload + 1 + pointer, payload + size);
        m_collecting = true;
    } else if (m_collecting) {
        m_buffer.insert(m_buffer.end(), payload, payload + size);
    }
    flushComplete();
}

void PsiSection::flushComplete() {
    // Several sections may follow each other in one payload; 0xFF is stuffing.
    while (m_collecting && m_buffer.size() >= 3) {
        if (m_buffer[0] == 0xFF) {
            m_buffer.clear();
            m_collecting = false;
            return;
        }
        const size_t length = 3 + (static_cast<size_t>(m_buffer[1] & 0x0F) << 8 | m_buffer[2]);
        if (m_buffer.size() < length) {
            return;
        }
        std::vector<uint8_t> section(m_buffer.begin(), m_buffer.begin() + length);
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + length);
        m_handler(section, length >= 4 && crc32(section.data(), section.size()) == 0);
    }
}

uint32_t PsiSection::crc32(const uint8_t* bytes, size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint32_t>(bytes[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    }
    return crc;
}
