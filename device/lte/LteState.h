#pragma once
// The LTE monitor's shared state: written by the monitor thread only, read by the HTTP
// worker (getLte) as one whole copy.

#include <atomic>
#include <mutex>
#include <string>

namespace enc {

/// One consistent copy of the monitor's results.
struct LteSnapshot {
    bool running = false;      // the monitor shall run
    int signal = 0;            // last AT+CSQ value (0-31, 99 unknown), -1 after a failed query
    int registered = 0;        // 1 when the packet-network registration check passed
    int simReady = 0;          // 1 when the SIM reported "READY"
    std::string operatorName;  // UTF-8, "" when unknown
    std::string iccid;         // SIM ICCID digits
    std::string imei;          // module IMEI digits
};

/// The monitor's state. Every accessor takes a short lock, so a reader never sees a
/// record half replaced. The running flag is also readable without the lock.
class LteState {
public:
    LteState() = default;
    LteState(const LteState&) = delete;
    LteState& operator=(const LteState&) = delete;

    /// The process-wide instance that startLteMonitor uses and getLte reads.
    static LteState& instance();

    /// A whole copy of the state.
    LteSnapshot snapshot() const;

    bool isRunning() const { return m_running.load(); }
    void setRunning(bool running) { m_running = running; }

    void setSignal(int signal);
    void setRegistered(int registered);
    void setSimReady(int simReady);
    void setOperatorName(const std::string& name);
    void setIccid(const std::string& iccid);
    void setImei(const std::string& imei);

    /// Back to the initial values (running cleared).
    void reset();

private:
    mutable std::mutex m_mutex;
    LteSnapshot m_data;  // running is kept in m_running
    std::atomic<bool> m_running{false};
};

}  // namespace enc
