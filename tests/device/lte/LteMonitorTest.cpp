#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "LteMonitor.h"
#include "ModemSimProcess.h"
#include "TestSupport.h"

namespace {

using devicetest::ModemSimProcess;
using testsupport::readFile;
using testsupport::SandboxBoard;
using testsupport::ScopedEnv;
using testsupport::waitFor;
using namespace std::chrono_literals;

constexpr const char* kImei = "866123456789012";
constexpr const char* kIccid = "89860012345678901234";

// The real waits shortened so a whole cycle takes milliseconds. A read still waits long
// enough for a loaded machine to answer.
enc::LteTimings fastTimings() {
    enc::LteTimings t;
    t.startupRetry = 2ms;
    t.imeiRetry = 2ms;
    t.shortStep = 1ms;
    t.shortSteps = 5;
    t.longStep = 2ms;
    t.longSteps = 5;
    t.radioPause = 2ms;
    t.answerWait = 2ms;
    t.byteGap = 0us;
    t.readTimeout = 300ms;
    return t;
}

class LteMonitorFixture : public ::testing::Test {
protected:
    void startSim(const std::vector<std::string>& options = {},
                  const std::string& port = "/dev/ttyUSB4") {
        m_sim = std::make_unique<ModemSimProcess>(m_board.path(port), options);
        ASSERT_TRUE(m_sim->ok());
    }
    void startMonitor(const enc::LteTimings& timings = fastTimings()) {
        m_monitor = std::make_unique<enc::LteMonitor>(m_state, timings);
        ASSERT_TRUE(m_monitor->begin());
    }
    bool reportsOperator(const std::string& name) {
        return waitFor([&] { return m_state.snapshot().operatorName == name; });
    }
    void TearDown() override {
        if (m_monitor) {
            EXPECT_TRUE(m_monitor->end(3000));
        }
    }

    SandboxBoard m_board;
    ScopedEnv m_module{"LTE_MODULE", "EC20"};
    enc::LteState m_state;
    std::unique_ptr<ModemSimProcess> m_sim;
    std::unique_ptr<enc::LteMonitor> m_monitor;
};

TEST(LtePort, ChosenByTheModuleName) {
    struct Case {
        const char* module;
        const char* port;
        const char* message;
    };
    const Case cases[] = {
        {nullptr, "/dev/ttyUSB4", "\n\n---------->>> must define a module name !!!\n"},
        {"EC200S", "/dev/ttyUSB1", "--->>>EC200S module\nAT dev:/dev/ttyUSB1\n"},
        {"EC20", "/dev/ttyUSB4", "--->>>EC20 module\nAT dev:/dev/ttyUSB4\n"},
        {"EC25", "/dev/ttyUSB4", "AT dev:/dev/ttyUSB4\n"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        const std::string port = enc::chooseLtePort(c.module);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
        EXPECT_EQ(port, c.port);
    }
}

TEST_F(LteMonitorFixture, ReportsTheSimulatedModem) {
    // An active-SIM file of another module is replaced.
    testsupport::writeFile(m_board.path("/mnt/config/active_sim"), "861111111111111 old\n");
    startSim();
    startMonitor();
    ASSERT_TRUE(reportsOperator("中国联通"));
    const enc::LteSnapshot s = m_state.snapshot();
    EXPECT_TRUE(s.running);
    // The signal from "+CSQ: 18,99".
    EXPECT_EQ(std::vector<int>({s.signal, s.simReady, s.registered}), std::vector<int>({18, 1, 1}));
    EXPECT_EQ(s.iccid + " " + s.imei, std::string(kIccid) + " " + kImei);
    EXPECT_EQ(readFile(m_board.path("/mnt/config/active_sim")), kImei);  // no newline
    EXPECT_EQ(readFile(m_board.path("/tmp/regNet")), "1");

    const auto commands = m_sim->commands();
    const std::vector<std::string> startUp = {"AT", "AT+GSN", "AT+CCID"};
    ASSERT_GE(commands.size(), 9u);
    EXPECT_TRUE(std::equal(startUp.begin(), startUp.end(), commands.begin()));
    const std::vector<std::string> cycle = {"AT+GSN",    "AT+CPIN?", "AT+CCID",
                                            "AT+CGREG?", "AT+CSQ",   "AT+COPS?"};
    EXPECT_TRUE(std::equal(cycle.begin(), cycle.end(), commands.begin() + 3));
}

TEST_F(LteMonitorFixture, Ec200sModuleUsesTtyUsb1) {
    ScopedEnv module("LTE_MODULE", "EC200S");
    startSim({"--cops", "CHN-CT"}, "/dev/ttyUSB1");
    startMonitor();
    EXPECT_TRUE(reportsOperator("中国电信"));
}

TEST_F(LteMonitorFixture, FailedQueriesClearOnlyTheirOwnFields) {
    startSim();
    testing::internal::CaptureStdout();
    startMonitor();
    const bool named = reportsOperator("中国联通");
    m_sim->control("cops=Vodafone\n");
    const bool unknownCleared = reportsOperator("");
    const bool signalKept = m_state.snapshot().signal == 18;
    m_sim->control("error=AT+CSQ\n");
    const bool signalCleared = waitFor([&] { return m_state.snapshot().signal == -1; });
    m_sim->control("cpin=SIM PIN\n");
    const bool simCleared = waitFor([&] { return m_state.snapshot().simReady == 0; });
    m_sim->control("echo=off\nerror=AT+CGREG?\n");
    const bool regCleared = waitFor([&] { return m_state.snapshot().registered == 0; });
    const std::string iccid = m_state.snapshot().iccid;
    m_sim->control("");
    const bool recovered = waitFor([&] {
        const auto s = m_state.snapshot();
        return s.signal == 18 && s.simReady == 1 && s.registered == 1 &&
               s.operatorName == "中国联通";
    });
    EXPECT_TRUE(m_monitor->end(3000));
    const std::string output = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(named);
    EXPECT_TRUE(unknownCleared);
    EXPECT_NE(output.find("get COPS wrong ret:-1 \n\n"), std::string::npos);
    EXPECT_TRUE(signalKept);
    EXPECT_TRUE(signalCleared);
    EXPECT_TRUE(simCleared);
    EXPECT_TRUE(regCleared);
    EXPECT_EQ(iccid, kIccid);
    EXPECT_TRUE(recovered);
}

TEST_F(LteMonitorFixture, FourteenDigitImeiFailsTheModuleCheck) {
    startSim({"--imei", "86612345678901"});
    testing::internal::CaptureStdout();
    startMonitor();
    const bool ended = waitFor([&] { return !m_monitor->isRunning(); });
    const std::string output = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ended);
    EXPECT_NE(output.find("4G check IMEI faild\n"), std::string::npos);
    EXPECT_EQ(output.find("IMEI ready"), std::string::npos);
    EXPECT_EQ(m_sim->count("AT+GSN"), 17u);
    EXPECT_FALSE(testsupport::fileExists(m_board.path("/mnt/config/active_sim")));
    EXPECT_EQ(m_sim->count("AT+CCID"), 0u);
}

TEST_F(LteMonitorFixture, RemovedRegNetResetsTheRadioAndIsMadeAgain) {
    startSim();
    testing::internal::CaptureStdout();
    startMonitor();
    const std::string marker = m_board.path("/tmp/regNet");
    const bool made = waitFor([&] { return testsupport::fileExists(marker); });
    const bool noResetYet = m_sim->count("AT+CFUN=0") == 0;
    ::unlink(marker.c_str());
    const bool remade = waitFor([&] { return testsupport::fileExists(marker); });
    EXPECT_TRUE(m_monitor->end(3000));
    const std::string output = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(made);
    EXPECT_TRUE(noResetYet);
    ASSERT_TRUE(remade);
    EXPECT_EQ(readFile(marker), "1");

    // The monitor does not wait for the answers to the reset commands.
    ASSERT_TRUE(waitFor([&] { return m_sim->count("AT+CFUN=1") == 1; }));
    const auto commands = m_sim->commands();
    const auto off = std::find(commands.begin(), commands.end(), "AT+CFUN=0");
    ASSERT_NE(off, commands.end()) << ::testing::PrintToString(commands) << output;
    ASSERT_NE(off + 1, commands.end());
    EXPECT_EQ(*(off + 1), "AT+CFUN=1");
    EXPECT_EQ(m_sim->count("AT+CFUN=0"), 1u);
    EXPECT_NE(output.find("--->>> 1, check 4G, make regNet file\n"), std::string::npos);
    EXPECT_NE(output.find("--->>> 2, check 4G, make regNet file\n"), std::string::npos);
}

TEST_F(LteMonitorFixture, ActiveSimWithTheSameImeiIsNotRewritten) {
    // The trailing newline shows whether the monitor wrote the file (it writes none).
    const std::string activeSim = m_board.path("/mnt/config/active_sim");
    testsupport::writeFile(activeSim, std::string(kImei) + "\n");
    startSim();
    startMonitor();
    ASSERT_TRUE(reportsOperator("中国联通"));
    EXPECT_EQ(readFile(activeSim), std::string(kImei) + "\n");
}

TEST_F(LteMonitorFixture, MissingPortGivesUpAfter22Attempts) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    startMonitor();
    const bool ended = waitFor([&] { return !m_monitor->isRunning(); });
    const std::string output = testing::internal::GetCapturedStdout();
    const std::string errors = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(ended);
    size_t failures = 0;
    for (const auto& line : testsupport::splitLines(output)) {
        failures += line == "can not open 4G device node" ? 1 : 0;
    }
    EXPECT_EQ(failures, 22u);
    EXPECT_NE(output.find("4G init faild\n"), std::string::npos);
    EXPECT_NE(errors.find("/dev/ttyUSB4: No such file or directory"), std::string::npos);
    EXPECT_EQ(output.find("gprs monitor exit"), std::string::npos);
}

TEST_F(LteMonitorFixture, SilentModemGivesUpTheAtCheckAfter32Attempts) {
    startSim({"--silent", "ALL"});
    enc::LteTimings timings = fastTimings();
    timings.readTimeout = 10ms;  // nothing will come; keep the 32 attempts short
    testing::internal::CaptureStdout();
    startMonitor(timings);
    const bool ended = waitFor([&] { return !m_monitor->isRunning(); });
    const std::string output = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ended);
    // Unanswered commands may still be on their way to the simulator's log.
    EXPECT_TRUE(waitFor([&] { return m_sim->count("AT") == 32u; }));
    EXPECT_NE(output.find("AT recv end, len:0\nAT response error\n"), std::string::npos);
    EXPECT_NE(output.find("4G AT faild\n"), std::string::npos);
    EXPECT_EQ(m_sim->count("AT+GSN"), 0u);
}

TEST_F(LteMonitorFixture, StopDuringStartUpRetriesEndsTheThread) {
    startMonitor(enc::LteTimings());  // no port: retries every second
    ASSERT_TRUE(m_monitor->isRunning());
    EXPECT_TRUE(m_monitor->end(3000));
    EXPECT_FALSE(m_state.snapshot().running);
}

// The process-wide monitor with the device's real timings: stopped while it waits the 20 s
// between two cycles, it ends within that wait.
TEST_F(LteMonitorFixture, StopLteMonitorEndsTheProcessMonitorPromptly) {
    enc::LteState::instance().reset();
    startSim();
    testing::internal::CaptureStdout();
    ASSERT_TRUE(enc::startLteMonitor());
    EXPECT_FALSE(enc::startLteMonitor());  // already running
    const bool reported = waitFor(
        [] { return enc::LteState::instance().snapshot().operatorName == "中国联通"; }, 20s);
    const bool stopped = enc::stopLteMonitor();
    const std::string output = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(reported);
    EXPECT_TRUE(stopped);
    EXPECT_FALSE(enc::LteState::instance().snapshot().running);
    EXPECT_NE(output.find("gprs_monitor_thread start.\n"), std::string::npos);
    EXPECT_NE(output.find("####### IMEI ready: 866123456789012 #######\n"), std::string::npos);
    EXPECT_NE(output.find("\n########### already active module ##############\n"),
              std::string::npos);
    EXPECT_NE(output.find("gprs monitor exit\n"), std::string::npos);
}

}  // namespace
