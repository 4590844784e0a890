#include "LteMonitor.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "AtPort.h"
#include "Console.h"
#include "LteModem.h"
#include "board/Board.h"

namespace enc {
namespace {

constexpr const char* kDefaultPort = "/dev/ttyUSB4";
constexpr const char* kEc200sPort = "/dev/ttyUSB1";
constexpr const char* kActiveSimFile = "/mnt/config/active_sim";
constexpr const char* kRegNetFile = "/tmp/regNet";

// Give-up counts of the start-up checks.
constexpr int kOpenAttempts = 22;
constexpr int kAtAttempts = 32;
constexpr int kImeiAttempts = 17;
constexpr int kIccidAttempts = 32;

// How long stopLteMonitor waits: every wait of the thread ends at once, so only a command
// being written (a few bytes) is left to finish.
constexpr int kStopTimeoutMs = 3000;

// Writes the whole file and makes sure it reached storage: the file must survive a power
// cut right after it was written.
bool writeDurably(const std::string& boardPath, const std::string& text) {
    const std::string file = board::path(boardPath);
    FILE* out = std::fopen(file.c_str(), "w");
    if (out == nullptr) {
        std::perror(file.c_str());
        return false;
    }
    bool ok =
        std::fputs(text.c_str(), out) >= 0 && std::fflush(out) == 0 && ::fsync(::fileno(out)) == 0;
    ok = std::fclose(out) == 0 && ok;
    if (!ok) {
        std::perror(file.c_str());
    }
    return ok;
}

bool boardFileExists(const char* boardPath) {
    return ::access(board::path(boardPath).c_str(), F_OK) == 0;
}

}  // namespace

std::string chooseLtePort(const char* moduleName) {
    if (moduleName == nullptr) {
        say("\n\n---------->>> must define a module name !!!\n");
        return kDefaultPort;
    }
    const std::string module = moduleName;
    std::string port = kDefaultPort;
    if (module == "EC200S") {
        say("--->>>EC200S module\n");
        port = kEc200sPort;
    } else if (module == "EC20") {
        say("--->>>EC20 module\n");
    }
    say("AT dev:%s\n", port.c_str());
    return port;
}

LteMonitor::LteMonitor(LteState& state, const LteTimings& timings)
    : m_state(state), m_timings(timings) {}

LteMonitor::~LteMonitor() {
    stop();
}

bool LteMonitor::begin() {
    if (isRunning()) {
        return false;
    }
    m_wake.reset();
    m_state.setRunning(true);
    return start();
}

bool LteMonitor::end(int timeoutMs) {
    m_state.setRunning(false);
    m_wake.wake();
    return join(timeoutMs);
}

void LteMonitor::doStop() {
    m_state.setRunning(false);
    m_wake.wake();
}

bool LteMonitor::pause(int steps, std::chrono::milliseconds step) {
    for (int i = 0; i < steps; ++i) {
        if (!keepRunning() || m_wake.wait(step)) {
            return false;
        }
    }
    return keepRunning();
}

template <class Attempt>
LteMonitor::Step LteMonitor::retry(int attempts, std::chrono::milliseconds pauseTime,
                                   const char* giveUp, Attempt attempt) {
    for (int failures = 1; keepRunning(); ++failures) {
        if (attempt()) {
            return Step::Done;
        }
        if (failures >= attempts) {
            say("%s\n", giveUp);
            return Step::GaveUp;
        }
        if (!pause(1, pauseTime)) {
            break;
        }
    }
    return Step::Stopped;
}

bool LteMonitor::recordActiveModule(LteModem& modem) {
    std::string imei;
    if (!modem.readImei(imei)) {
        return false;
    }
    m_state.setImei(imei);
    say("####### IMEI ready: %s #######\n", imei.c_str());
    std::string recorded;
    std::ifstream(board::path(kActiveSimFile)) >> recorded;
    if (recorded != imei) {
        writeDurably(kActiveSimFile, imei);
    }
    return true;
}

LteMonitor::Step LteMonitor::startUp(AtPort& port, LteModem& modem, const std::string& portPath) {
    Step step = retry(kOpenAttempts, m_timings.startupRetry, "4G init faild", [&] {
        if (port.open(portPath)) {
            return true;
        }
        std::perror(portPath.c_str());
        say("can not open 4G device node\n");
        return false;
    });
    if (step != Step::Done) {
        return step;
    }
    step = retry(kAtAttempts, m_timings.startupRetry, "4G AT faild", [&] {
        if (modem.checkAt()) {
            return true;
        }
        say(port.isOpen() ? "AT response error\n" : "AT device node is error\n");
        return false;
    });
    if (step != Step::Done) {
        return step;
    }
    step = retry(kImeiAttempts, m_timings.imeiRetry, "4G check IMEI faild",
                 [&] { return recordActiveModule(modem); });
    if (step != Step::Done) {
        return step;
    }
    say("\n########### already active module ##############\n");
    return retry(kIccidAttempts, m_timings.startupRetry, "4G check ICCID faild", [&] {
        std::string iccid;
        if (!modem.readIccid(iccid)) {
            return false;
        }
        m_state.setIccid(iccid);
        return true;
    });
}

void LteMonitor::checkMarker(AtPort& port, bool& markerMade) {
    if (!markerMade) {
        markerMade = true;
        say("--->>> 1, check 4G, make regNet file\n");
        writeDurably(kRegNetFile, "1");
        return;
    }
    if (boardFileExists(kRegNetFile)) {
        return;
    }
    // The link manager removed the marker: it wants the radio reset.
    port.sendAt("AT+CFUN=0\r");
    if (!pause(1, m_timings.radioPause)) {
        return;
    }
    port.sendAt("AT+CFUN=1\r");
    say("--->>> 2, check 4G, make regNet file\n");
    writeDurably(kRegNetFile, "1");
}

void LteMonitor::monitor(AtPort& port, LteModem& modem) {
    bool markerMade = false;
    // A query cut short by a stop is no modem failure: the state keeps its last values.
    const auto waitAfterFailure = [this] {
        return keepRunning() && pause(m_timings.shortSteps, m_timings.shortStep);
    };
    while (keepRunning()) {
        std::string imei;
        if (!modem.readImei(imei)) {
            waitAfterFailure();
            continue;
        }
        m_state.setImei(imei);

        if (!modem.checkSim()) {
            if (keepRunning()) {
                m_state.setSimReady(0);
            }
            waitAfterFailure();
            continue;
        }
        m_state.setSimReady(1);

        std::string iccid;
        if (!modem.readIccid(iccid)) {
            waitAfterFailure();
            continue;
        }
        m_state.setIccid(iccid);

        if (modem.checkPacketRegistration() != 1) {
            if (keepRunning()) {
                m_state.setRegistered(0);
            }
            waitAfterFailure();
            continue;
        }
        m_state.setRegistered(1);

        checkMarker(port, markerMade);
        if (!keepRunning()) {
            break;
        }

        int signal = -1;
        if (!modem.readSignal(signal)) {
            if (keepRunning()) {
                m_state.setSignal(-1);
            }
            waitAfterFailure();
            continue;
        }
        m_state.setSignal(signal);

        std::string name;
        const int ret = modem.readOperator(name);
        if (!keepRunning()) {
            break;
        }
        if (ret == 0) {
            m_state.setOperatorName(name);
        } else {
            say("get COPS wrong ret:%d \n\n", ret);
            m_state.setOperatorName(std::string());
        }
        pause(m_timings.longSteps, m_timings.longStep);
    }
}

int LteMonitor::run() {
    const std::string portPath = chooseLtePort(std::getenv("LTE_MODULE"));
    say("gprs_monitor_thread start.\n");
    AtPort port(m_timings, m_wake);
    LteModem modem(port);
    const Step step = startUp(port, modem, portPath);
    if (step == Step::GaveUp) {
        return 0;
    }
    if (step == Step::Done) {
        monitor(port, modem);
    }
    port.close();
    say("gprs monitor exit\n");
    return 0;
}

namespace {

// Never destroyed: the process may exit while the monitor is still between two bytes of a
// command, and a destroyed running thread object would stop the process.
LteMonitor& processMonitor() {
    static LteMonitor* monitor = new LteMonitor(LteState::instance());
    return *monitor;
}

}  // namespace

bool startLteMonitor() {
    return processMonitor().begin();
}

bool stopLteMonitor() {
    return processMonitor().end(kStopTimeoutMs);
}

}  // namespace enc
