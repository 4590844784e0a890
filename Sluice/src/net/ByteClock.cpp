#include "ByteClock.h"

#include <algorithm>

namespace av {

void ByteClock::setRate(int64_t bitsPerSecond) {
    m_rate = bitsPerSecond > 0 ? bitsPerSecond : 0;
    m_bytes = 0;
}

int64_t ByteClock::due(size_t size, int64_t nowNs) {
    if (m_rate <= 0) {
        return 0;
    }
    const auto offset =
        static_cast<int64_t>(static_cast<double>(m_bytes) * 8e9 / static_cast<double>(m_rate));
    if (m_bytes == 0 || m_anchorNs + offset < nowNs - kResyncNs) {
        m_anchorNs = nowNs + kLatencyNs - offset;
    }
    m_bytes += size;
    return m_anchorNs + offset;
}

int64_t ByteClock::nextBurst(int64_t nowNs, size_t burstBytes, int64_t earliestDueNs) const {
    const auto burstNs =
        static_cast<int64_t>(static_cast<double>(burstBytes) * 8e9 /
                             (2.0 * static_cast<double>(std::max<int64_t>(m_rate, 1))));
    return std::max(earliestDueNs, nowNs + burstNs);
}

}  // namespace av
