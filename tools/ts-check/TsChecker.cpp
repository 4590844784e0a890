#include "TsChecker.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int64_t kPcrPerMs = 27000;  // the PCR runs at 27 MHz
constexpr int64_t kPtsPerMs = 90;
constexpr int64_t kPtsWrap = int64_t{1} << 33;
constexpr size_t kSyncRun = 5;  // sync bytes in a row that acquire sync
constexpr uint8_t kSyncByte = 0x47;

}  // namespace

TsChecker::TsChecker(int64_t pidTimeoutMs) : m_pidTimeout(pidTimeoutMs * kPcrPerMs) {
    m_pat = std::make_unique<PsiSection>(
        [this](const std::vector<uint8_t>& section, bool crcOk) { onPat(section, crcOk); });
}

void TsChecker::feed(const uint8_t* bytes, size_t size) {
    m_pending.insert(m_pending.end(), bytes, bytes + size);
    size_t pos = 0;
    while (true) {
        if (!m_synced) {
            // Look for five sync bytes a packet apart.
            bool found = false;
            while (pos + kSyncRun * kPacketSize <= m_pending.size()) {
                bool run = true;
                for (size_t k = 0; k < kSyncRun && run; ++k) {
                    run = m_pending[pos + k * kPacketSize] == kSyncByte;
                }
                if (run) {
                    found = true;
                    break;
                }
                ++pos;
            }
            if (!found) {
                break;
            }
            m_synced = true;
            m_badSyncInRow = 0;
        }
        if (pos + kPacketSize > m_pending.size()) {
            break;
        }
        const uint8_t* p = m_pending.data() + pos;
        if (p[0] != kSyncByte) {
            ++m_report.syncByteErrors;
            if (++m_badSyncInRow >= 2) {
                ++m_report.syncLoss;
                m_synced = false;
                ++pos;  // search again from the next byte
                continue;
            }
        } else {
            m_badSyncInRow = 0;
            packet(p);
        }
        pos += kPacketSize;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(pos));
}

void TsChecker::packet(const uint8_t* p) {
    ++m_report.packets;
    if ((p[1] & 0x80) != 0) {
        ++m_report.transportErrors;
        return;  // nothing else in it can be trusted
    }
    const bool start = (p[1] & 0x40) != 0;
    const auto pid = static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2]);
    const int afc = (p[3] >> 4) & 3;
    const int cc = p[3] & 0x0F;
    m_accuracy.onPacket(pid == 0x1FFF);
    if (pid == 0x1FFF) {
        return;  // null packets carry nothing to check
    }

    size_t offset = 4;
    bool discontinuity = false;
    if ((afc & 2) != 0) {
        const size_t length = p[4];
        offset = 5 + length;
        if (length > 0) {
            const uint8_t flags = p[5];
            discontinuity = (flags & 0x80) != 0;
            if ((flags & 0x10) != 0 && length >= 7) {
                const int64_t base = static_cast<int64_t>(p[6]) << 25 | p[7] << 17 | p[8] << 9 |
                                     p[9] << 1 | p[10] >> 7;
                const int64_t extension = (p[10] & 1) << 8 | p[11];
                onPcr(pid, base * 300 + extension, discontinuity);
            }
        }
        if (offset > TsChecker::kPacketSize) {
            return;
        }
    }

    PidState& state = m_pids[pid];
    if ((afc & 1) != 0) {
        if (state.lastCc >= 0 && !discontinuity) {
            const int expected = (state.lastCc + 1) & 0x0F;
            if (cc == state.lastCc && !state.duplicateSeen) {
                state.duplicateSeen = true;  // one repetition is allowed
                return;
            }
            if (cc != expected) {
                ++m_report.continuityErrors;
                m_report.lostPackets += static_cast<uint64_t>((cc - expected) & 0x0F);
            }
        }
        state.lastCc = cc;
        state.duplicateSeen = false;
    }
    state.lastSeen = timeKnown() ? m_now : 0;  // before the clock starts: its start
    state.missing = false;
    if ((afc & 1) == 0) {
        return;
    }

    const uint8_t* payload = p + offset;
    const size_t size = kPacketSize - offset;
    if (pid == 0) {
        m_pat->feed(payload, size, start);
    } else if (auto pmt = m_pmts.find(pid); pmt != m_pmts.end()) {
        pmt->second->feed(payload, size, start);
    } else if (start) {
        onPes(pid, payload, size);
    }
}

void TsChecker::onPcr(uint16_t pid, int64_t pcr, bool discontinuity) {
    if (m_pcrPid >= 0 && pid != m_pcrPid) {
        return;
    }
    const int64_t sinceLast = m_lastPcr >= 0 ? pcr - m_lastPcr : 0;
    m_accuracy.onPcr(pcr, discontinuity || sinceLast < 0 || sinceLast > kPcrJumpMs * kPcrPerMs);
    if (m_lastPcr >= 0 && !discontinuity) {
        const int64_t interval = pcr - m_lastPcr;
        if (interval < 0 || interval > kPcrJumpMs * kPcrPerMs) {
            ++m_report.pcrDiscontinuityErrors;
        } else {
            m_report.maxPcrIntervalMs =
                std::max(m_report.maxPcrIntervalMs, static_cast<double>(interval) / kPcrPerMs);
            if (interval > kPcrIntervalMs * kPcrPerMs) {
                ++m_report.pcrRepetitionErrors;
            }
        }
    }
    // The stream clock runs on through discontinuities (flagged or not).
    if (m_lastPcr >= 0 && m_now >= 0) {
        const int64_t step = pcr - m_lastPcr;
        m_now += step >= 0 && step <= kPcrJumpMs * kPcrPerMs ? step : 0;
    } else {
        m_now = 0;
        m_firstPcr = pcr;
        // Tables seen before the clock started count from its start.
        if (m_patSeen) {
            m_lastPat = 0;
        }
        if (m_pmtSeen) {
            m_lastPmt = 0;
        }
        // Streams announced before the clock started get their time-out from its start.
        for (uint16_t es : m_esPids) {
            m_pids[es].lastSeen = std::max<int64_t>(m_pids[es].lastSeen, 0);
        }
    }
    m_lastPcr = pcr;
    m_report.seconds = static_cast<double>(m_now) / (1000.0 * kPcrPerMs);
    checkPids();
}

void TsChecker::checkPids() {
    for (uint16_t pid : m_esPids) {
        PidState& state = m_pids[pid];
        if (!state.missing && (state.lastSeen < 0 || m_now - state.lastSeen > m_pidTimeout)) {
            state.missing = true;  // one error per absence
            ++m_report.pidErrors;
        }
    }
}

void TsChecker::tableSeen(int64_t& last, double& maxMs, uint64_t& errors) {
    if (!timeKnown()) {
        return;
    }
    if (last >= 0) {
        const int64_t interval = m_now - last;
        maxMs = std::max(maxMs, static_cast<double>(interval) / kPcrPerMs);
        if (interval > kTableIntervalMs * kPcrPerMs) {
            ++errors;
        }
    }
    last = m_now;
}

void TsChecker::onPat(const std::vector<uint8_t>& section, bool crcOk) {
    if (section[0] != 0x00) {
        ++m_report.patErrors;  // only a PAT belongs on PID 0
        return;
    }
    if (!crcOk) {
        ++m_report.crcErrors;
        return;
    }
    m_patSeen = true;
    tableSeen(m_lastPat, m_report.maxPatIntervalMs, m_report.patErrors);
    const size_t end = section.size() - 4;
    for (size_t i = 8; i + 4 <= end; i += 4) {
        const int program = section[i] << 8 | section[i + 1];
        const auto pid = static_cast<uint16_t>((section[i + 2] & 0x1F) << 8 | section[i + 3]);
        if (program != 0 && m_pmts.find(pid) == m_pmts.end()) {
            m_pmts[pid] = std::make_unique<PsiSection>(
                [this, pid](const std::vector<uint8_t>& s, bool ok) { onPmt(pid, s, ok); });
        }
    }
}

void TsChecker::onPmt(uint16_t, const std::vector<uint8_t>& section, bool crcOk) {
    if (section[0] != 0x02) {
        ++m_report.pmtErrors;
        return;
    }
    if (!crcOk) {
        ++m_report.crcErrors;
        return;
    }
    m_pmtSeen = true;
    tableSeen(m_lastPmt, m_report.maxPmtIntervalMs, m_report.pmtErrors);
    if (section.size() < 16) {
        return;
    }
    m_pcrPid = (section[8] & 0x1F) << 8 | section[9];
    const size_t infoLength = static_cast<size_t>(section[10] & 0x0F) << 8 | section[11];
    const size_t end = section.size() - 4;
    for (size_t i = 12 + infoLength; i + 5 <= end;) {
        const auto pid = static_cast<uint16_t>((section[i + 1] & 0x1F) << 8 | section[i + 2]);
        const size_t esInfo = static_cast<size_t>(section[i + 3] & 0x0F) << 8 | section[i + 4];
        if (m_esPids.insert(pid).second && timeKnown()) {
            m_pids[pid].lastSeen = std::max<int64_t>(m_pids[pid].lastSeen, m_now);
        }
        i += 5 + esInfo;
    }
}

void TsChecker::onPes(uint16_t pid, const uint8_t* payload, size_t size) {
    if (size < 14 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1) {
        return;
    }
    if ((payload[7] & 0x80) == 0) {
        return;  // no PTS
    }
    const uint8_t* b = payload + 9;
    const int64_t pts = static_cast<int64_t>(b[0] & 0x0E) << 29 | b[1] << 22 | (b[2] & 0xFE) << 14 |
                        b[3] << 7 | b[4] >> 1;
    PidState& state = m_pids[pid];
    if (state.lastPts >= 0) {
        int64_t gap = (pts - state.lastPts) & (kPtsWrap - 1);
        if (gap > kPtsWrap / 2) {
            gap = kPtsWrap - gap;  // backwards: the distance counts
        }
        m_report.maxPtsIntervalMs =
            std::max(m_report.maxPtsIntervalMs, static_cast<double>(gap) / kPtsPerMs);
        if (gap > kPtsIntervalMs * kPtsPerMs) {
            ++m_report.ptsErrors;
        }
    }
    state.lastPts = pts;
}

void TsChecker::finish() {
    m_accuracy.finish(m_report);
    // The time since the last table counts like an interval (it is not the longest one).
    double unused = 0;
    if (!m_patSeen) {
        ++m_report.patErrors;
    } else {
        int64_t last = m_lastPat;
        tableSeen(last, unused, m_report.patErrors);
    }
    if (!m_pmtSeen) {
        ++m_report.pmtErrors;
    } else {
        int64_t last = m_lastPmt;
        tableSeen(last, unused, m_report.pmtErrors);
    }
    if (timeKnown()) {
        checkPids();
    }
}
