#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

/// Reassembles the PSI sections (PAT, PMT) carried on one PID from its packets' payloads and
/// hands every complete section on with the result of its CRC check.
class PsiSection {
public:
    using Handler = std::function<void(const std::vector<uint8_t>& section, bool crcOk)>;

    explicit PsiSection(Handler handler) : m_handler(std::move(handler)) {}

    /// One packet's payload; start is the payload_unit_start_indicator.
    void feed(const uint8_t* payload, size_t size, bool start);

    /// CRC-32/MPEG-2 of the bytes (0 over a whole section with its CRC).
    static uint32_t crc32(const uint8_t* bytes, size_t size);

private:
    void flushComplete();

    Handler m_handler;
    std::vector<uint8_t> m_buffer;
    bool m_collecting = false;
};
