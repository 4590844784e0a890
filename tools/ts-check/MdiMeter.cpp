#include "MdiMeter.h"

#include <algorithm>

void MdiMeter::onDatagram(int64_t nowNs, size_t size, uint64_t lostSoFar) {
    if (m_intervalStart < 0) {
        m_intervalStart = nowNs;
        m_lostAtStart = lostSoFar;
    }
    while (nowNs - m_intervalStart >= kIntervalNs) {
        closeInterval(m_intervalStart + kIntervalNs);
    }
    m_arrivals.push_back({nowNs, size});
    m_lost = lostSoFar;
    ++m_datagrams;
    m_run = m_lastArrival >= 0 && nowNs - m_lastArrival < m_burstGapNs ? m_run + 1 : 1;
    m_largestBurst = std::max(m_largestBurst, m_run);
    m_lastArrival = nowNs;
}

void MdiMeter::closeInterval(int64_t endNs) {
    if (m_arrivals.size() >= 2) {
        // Drained at the interval's own average rate, from its first arrival to its last.
        const int64_t span = m_arrivals.back().at - m_arrivals.front().at;
        size_t bytes = 0;
        for (const Arrival& a : m_arrivals) {
            bytes += a.size;
        }
        const double drained = static_cast<double>(bytes - m_arrivals.back().size);
        if (span > 0 && drained > 0) {
            const double rate = drained / static_cast<double>(span);  // bytes per ns
            double received = 0;
            double lowest = 0;
            double highest = 0;
            for (const Arrival& a : m_arrivals) {
                const double buffer =
                    received - rate * static_cast<double>(a.at - m_arrivals.front().at);
                lowest = std::min(lowest, buffer);
                received += static_cast<double>(a.size);
                highest = std::max(highest, buffer + static_cast<double>(a.size));
            }
            const double factorMs = (highest - lowest) / rate / 1e6;
            m_maxDelayFactorMs = std::max(m_maxDelayFactorMs, factorMs);
        }
    }
    // Losses per interval of one second (a last, shorter one counts as a whole second).
    m_maxLossRate = std::max(m_maxLossRate, static_cast<double>(m_lost - m_lostAtStart));
    m_arrivals.clear();
    m_intervalStart = endNs;
    m_lostAtStart = m_lost;
}

void MdiMeter::finish(CheckReport& report) {
    if (m_intervalStart >= 0 && !m_arrivals.empty()) {
        closeInterval(std::max(m_arrivals.back().at, m_intervalStart + 1));
    }
    report.datagrams = true;
    report.datagramCount = m_datagrams;
    report.maxDelayFactorMs = m_maxDelayFactorMs;
    report.maxMediaLossRate = m_maxLossRate;
    report.largestBurst = m_largestBurst;
}
