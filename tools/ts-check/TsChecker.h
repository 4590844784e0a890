#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "CheckReport.h"
#include "PcrAccuracy.h"
#include "PsiSection.h"

/// The ETSI TR 101 290 priority 1 and 2 checks over a transport stream given as bytes in
/// any slicing (a file, a pipe, datagram payloads). Intervals (PAT, PMT, PID, PCR, PTS) are
/// measured on the stream's own clock, the PCR of the programme; sync is acquired after five
/// sync bytes in a row and lost after two bad ones. Single-threaded.
class TsChecker {
public:
    static constexpr size_t kPacketSize = 188;
    /// PAT and PMT must come at least this often.
    static constexpr int64_t kTableIntervalMs = 500;
    /// Largest PCR gap without a repetition error.
    static constexpr int64_t kPcrIntervalMs = 40;
    /// A PCR jump beyond this (or backwards) is a discontinuity unless it is flagged.
    static constexpr int64_t kPcrJumpMs = 100;
    /// Largest PTS gap on one PID without a PTS error.
    static constexpr int64_t kPtsIntervalMs = 700;

    /// pidTimeoutMs: how long an elementary stream of the PMT may be absent (PID_error).
    explicit TsChecker(int64_t pidTimeoutMs = 2000);

    void feed(const uint8_t* bytes, size_t size);
    /// The end of the input: open intervals are checked against their limits.
    void finish();

    CheckReport& report() { return m_report; }
    /// TS packets lost by continuity count so far (for the loss rate of datagram input).
    uint64_t lostPackets() const { return m_report.lostPackets; }

private:
    struct PidState {
        int lastCc = -1;
        bool duplicateSeen = false;
        int64_t lastSeen = -1;  // stream time, 27 MHz
        int64_t lastPts = -1;   // 90 kHz
        bool missing = false;   // a PID_error was counted for the current absence
    };

    void packet(const uint8_t* p);
    void onPcr(uint16_t pid, int64_t pcr, bool discontinuity);
    /// PID_error for every elementary stream absent for longer than the time-out.
    void checkPids();
    void onPes(uint16_t pid, const uint8_t* payload, size_t size);
    void onPat(const std::vector<uint8_t>& section, bool crcOk);
    void onPmt(uint16_t pid, const std::vector<uint8_t>& section, bool crcOk);
    /// Records an occurrence of a table at the current time; errors when late.
    void tableSeen(int64_t& last, double& maxMs, uint64_t& errors);
    bool timeKnown() const { return m_now >= 0; }

    CheckReport m_report;
    PcrAccuracy m_accuracy;
    int64_t m_pidTimeout;  // 27 MHz

    std::vector<uint8_t> m_pending;  // bytes not yet a whole packet
    bool m_synced = false;
    int m_badSyncInRow = 0;

    std::map<uint16_t, PidState> m_pids;
    std::unique_ptr<PsiSection> m_pat;
    std::map<uint16_t, std::unique_ptr<PsiSection>> m_pmts;  // by PMT PID
    std::set<uint16_t> m_esPids;
    int m_pcrPid = -1;

    int64_t m_now = -1;  // stream time, 27 MHz, from the PCR PID
    int64_t m_firstPcr = -1;
    int64_t m_lastPcr = -1;
    int64_t m_lastPat = -1;
    bool m_patSeen = false;
    int64_t m_lastPmt = -1;
    bool m_pmtSeen = false;
};
