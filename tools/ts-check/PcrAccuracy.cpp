#include "PcrAccuracy.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPcrHz = 27e6;
constexpr double kPacketBits = 188 * 8;

}  // namespace

void PcrAccuracy::onPacket(bool null) {
    ++m_packets;
    if (null) {
        ++m_nulls;
    }
}

void PcrAccuracy::onPcr(int64_t pcr27MHz, bool discontinuity) {
    if (discontinuity) {
        m_samples.clear();
    }
    m_samples.push_back({m_packets - 1, pcr27MHz});
}

void PcrAccuracy::finish(CheckReport& report) {
    report.nullShare =
        m_packets == 0 ? 0 : static_cast<double>(m_nulls) / static_cast<double>(m_packets);
    if (m_samples.size() < 2 || m_samples.back().pcr <= m_samples.front().pcr) {
        return;
    }
    const Sample& first = m_samples.front();
    const double seconds = static_cast<double>(m_samples.back().pcr - first.pcr) / kPcrHz;
    const double rate =
        static_cast<double>(m_samples.back().packet - first.packet) * kPacketBits / seconds;
    report.transportRateBps = rate;
    const bool constantRate = m_nulls > 0;
    double worst = 0;
    for (const Sample& s : m_samples) {
        const double expected = static_cast<double>(s.packet - first.packet) * kPacketBits / rate;
        const double actual = static_cast<double>(s.pcr - first.pcr) / kPcrHz;
        const double offNs = std::fabs(actual - expected) * 1e9;
        worst = std::max(worst, offNs);
        if (constantRate && offNs > kToleranceNs) {
            ++report.pcrAccuracyErrors;
        }
    }
    report.maxPcrAccuracyNs = worst;
}
