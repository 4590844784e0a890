#pragma once
// The LTE modem monitor: a thread that checks the module, SIM card, registration, signal
// and operator over the modem's AT port and keeps the results in an LteState. It also
// records the module's IMEI in "/mnt/config/active_sim" and coordinates radio resets with
// the program that manages the "ppp0" link through the marker file "/tmp/regNet".

#include <string>

#include "LteState.h"
#include "LteTimings.h"
#include "TThread.h"
#include "WakeEvent.h"

namespace enc {

class AtPort;
class LteModem;

/// The AT port for the module named by "LTE_MODULE" (nullptr when unset), as a board path:
/// "/dev/ttyUSB1" for "EC200S", "/dev/ttyUSB4" otherwise. Prints the module lines
/// ("must define a module name" when unset, "--->>>EC200S module", "--->>>EC20 module",
/// "AT dev:<port>" when set).
std::string chooseLtePort(const char* moduleName);

/// The monitor thread. It is the only writer of its LteState.
///
/// Start-up: the port is opened (22 attempts, 1 s apart), then AT (32 attempts, 1 s), the
/// module's IMEI is recorded (17 attempts, 2 s) and the ICCID read (32 attempts, 1 s); a
/// check that keeps failing ends the thread with its message, for the life of the object.
/// Then the monitoring cycle repeats until stopped. Every wait ends at once on end() or
/// stop(), so the thread ends within the command it is running (at most a few bytes).
class LteMonitor : public comn::Thread {
public:
    explicit LteMonitor(LteState& state, const LteTimings& timings = LteTimings());
    /// Stops the thread first.
    ~LteMonitor() override;

    /// Sets running and starts the thread. False when it is running already or cannot be
    /// created.
    bool begin();

    /// Clears running, wakes the thread and waits up to timeoutMs for it to end. True when
    /// it has ended.
    bool end(int timeoutMs);

protected:
    int run() override;
    void doStop() override;

private:
    enum class Step { Done, GaveUp, Stopped };
    template <class Attempt>
    Step retry(int attempts, std::chrono::milliseconds pause, const char* giveUp, Attempt attempt);
    Step startUp(AtPort& port, LteModem& modem, const std::string& portPath);
    void monitor(AtPort& port, LteModem& modem);
    bool recordActiveModule(LteModem& modem);
    void checkMarker(AtPort& port, bool& markerMade);

    bool keepRunning() const { return m_state.isRunning() && !isStopping(); }
    /// steps × step, checking running before each step; false when stopped.
    bool pause(int steps, std::chrono::milliseconds step);

    LteState& m_state;
    LteTimings m_timings;
    comn::WakeEvent m_wake;
};

/// Starts the process-wide monitor on LteState::instance() with the real timings (called
/// once by the web-server mode when connectionType is 2). False when it is running already.
bool startLteMonitor();

/// Stops the process-wide monitor: clears running, wakes it and waits up to 3 s for the
/// thread to end (it ends within the step it is in). True when it has ended or never ran.
bool stopLteMonitor();

}  // namespace enc
