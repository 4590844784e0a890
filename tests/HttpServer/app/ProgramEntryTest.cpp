// The pieces of Quillon's program entry that need no process: the mode argument, the port
// variable and the stop signals' handler.

#include <gtest/gtest.h>
#include <poll.h>

#include <csignal>

#include "ProgramMode.h"
#include "ShutdownSignals.h"
#include "WebServerMode.h"

namespace {

TEST(ProgramMode, OnlyOneAndTwoSelectTheirModes) {
    struct Case {
        const char* argument;
        ProgramMode mode;
    };
    const Case cases[] = {
        {"0", ProgramMode::SetNetwork},
        {"1", ProgramMode::WebServer},
        {"2", ProgramMode::WifiFile},
        {"3", ProgramMode::SetNetwork},
        {"5", ProgramMode::SetNetwork},
        {"-1", ProgramMode::SetNetwork},
        {"abc", ProgramMode::SetNetwork},
        {"", ProgramMode::SetNetwork},
        {" 1", ProgramMode::WebServer},
        {"+2", ProgramMode::WifiFile},
        {"01", ProgramMode::WebServer},
        {"1x", ProgramMode::WebServer},           // conversion stops at the first non-digit
        {"4294967297", ProgramMode::SetNetwork},  // 2^32 + 1 must not wrap into mode 1
        {"99999999999999999999999", ProgramMode::SetNetwork},
        {nullptr, ProgramMode::SetNetwork},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(programMode(c.argument), c.mode) << (c.argument ? c.argument : "(null)");
    }
}

TEST(HttpPort, VariableOverridesOnlyWithAPort) {
    struct Case {
        const char* value;
        int port;  // 80: the default (reported unless the variable is unset)
    };
    const Case cases[] = {
        {nullptr, 80}, {"8080", 8080}, {"1", 1},    {"65535", 65535}, {"65536", 80}, {"0", 0},
        {"-80", 80},   {"", 80},       {"80a", 80}, {" 8080", 80},    {"http", 80},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(WebServerMode::port(WebServerMode::kPortVariable, c.value, 80), c.port)
            << (c.value ? c.value : "(null)");
        const std::string out = testing::internal::GetCapturedStdout();
        const bool reported = out.find("QUILLON_HTTP_PORT=") != std::string::npos &&
                              out.find("is not a port") != std::string::npos;
        EXPECT_EQ(reported, c.value != nullptr && c.port == 80) << out;
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(WebServerMode::port(WebServerMode::kHttpsPortVariable, "x", 443), 443);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("QUILLON_HTTPS_PORT=x is not a port"),
              std::string::npos);
}

TEST(ShutdownSignals, HandlerPrintsItsLineClearsTheFlagAndWakes) {
    ShutdownSignals::install();
    EXPECT_TRUE(ShutdownSignals::running());
    pollfd p{ShutdownSignals::wakeFd(), POLLIN, 0};
    ASSERT_GE(p.fd, 0);
    EXPECT_EQ(::poll(&p, 1, 0), 0);

    // SIGHUP has a line of its own although it is never routed to the handler.
    testing::internal::CaptureStdout();
    ShutdownSignals::onSignal(SIGHUP);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Get a signal -- SIGHUP\n");
    EXPECT_FALSE(ShutdownSignals::running());
    EXPECT_EQ(::poll(&p, 1, 0), 1);
    EXPECT_TRUE(ShutdownSignals::waitForStop(std::chrono::hours(1)));  // returns at once

    // A real signal takes the same way; a new install starts running again.
    ShutdownSignals::install();
    EXPECT_TRUE(ShutdownSignals::running());
    testing::internal::CaptureStdout();
    std::raise(SIGUSR1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Get a signal -- SIGUSR1\n");
    EXPECT_FALSE(ShutdownSignals::running());
}

TEST(ShutdownSignals, BrokenPipeIsIgnored) {
    ShutdownSignals::install();
    struct sigaction current {};
    ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
    ASSERT_EQ(::sigaction(SIGHUP, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

}  // namespace
