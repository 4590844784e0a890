#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "AtPort.h"
#include "TestSupport.h"
#include "WakeEvent.h"

namespace {

using namespace std::chrono_literals;

// A pseudo-terminal whose slave appears at the sandbox's "/dev/ttyUSB4"; the test plays
// the modem on the master side.
class PortFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(m_master, 0);
        ASSERT_EQ(::grantpt(m_master), 0);
        ASSERT_EQ(::unlockpt(m_master), 0);
        m_slave = ::ptsname(m_master);
        // Held open so the master reads no hang-up while the port is closed.
        m_keeper = ::open(m_slave.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(m_keeper, 0);
        ASSERT_EQ(::symlink(m_slave.c_str(), m_board.path("/dev/ttyUSB4").c_str()), 0);
        m_timings.answerWait = 1ms;
        m_timings.readTimeout = 200ms;
    }
    void TearDown() override {
        if (m_keeper >= 0) {
            ::close(m_keeper);
        }
        if (m_master >= 0) {
            ::close(m_master);
        }
    }

    // Everything the port has written so far.
    std::string drainMaster() {
        std::string bytes;
        pollfd pfd{m_master, POLLIN, 0};
        while (::poll(&pfd, 1, 50) > 0) {
            char chunk[256];
            const ssize_t n = ::read(m_master, chunk, sizeof chunk);
            if (n <= 0) {
                break;
            }
            bytes.append(chunk, static_cast<size_t>(n));
        }
        return bytes;
    }

    testsupport::SandboxBoard m_board;
    enc::LteTimings m_timings;
    comn::WakeEvent m_wake;
    int m_master = -1;
    int m_keeper = -1;
    std::string m_slave;
};

TEST_F(PortFixture, LineSettingsAreExactlyTheModemsAndRestoredOnClose) {
    termios before{};
    ASSERT_EQ(::tcgetattr(m_keeper, &before), 0);
    enc::AtPort port(m_timings, m_wake);
    ASSERT_TRUE(port.open("/dev/ttyUSB4"));

    termios line{};
    ASSERT_EQ(::tcgetattr(m_keeper, &line), 0);
    // The pseudo-terminal driver always reports CREAD; a serial port keeps what was set.
    EXPECT_EQ(line.c_cflag & ~static_cast<tcflag_t>(CREAD), static_cast<tcflag_t>(B115200 | CS8));
    EXPECT_EQ(line.c_iflag, static_cast<tcflag_t>(IGNPAR | ICRNL));
    EXPECT_EQ(line.c_oflag, 0u);
    EXPECT_EQ(line.c_lflag, static_cast<tcflag_t>(ICANON));
    EXPECT_EQ(::cfgetospeed(&line), static_cast<speed_t>(B115200));
    for (int i = 0; i < NCCS; ++i) {
        const int expected = i == VEOF ? 4 : i == VMIN ? 1 : 0;
        EXPECT_EQ(line.c_cc[i], expected) << "control character " << i;
    }

    port.close();
    termios after{};
    ASSERT_EQ(::tcgetattr(m_keeper, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
}

TEST_F(PortFixture, CommandGoesOutWithASecondCarriageReturnAndTheAnswerIsReadUpToOk) {
    enc::AtPort port(m_timings, m_wake);
    ASSERT_TRUE(port.open("/dev/ttyUSB4"));
    port.sendAt("AT+CSQ\r");
    EXPECT_EQ(drainMaster(), "AT+CSQ\r\r");
    // Carriage returns arrive as line feeds.
    const std::string reply = "\r\n+CSQ: 18,99\r\n\r\nOK\r\n";
    ASSERT_EQ(::write(m_master, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
    EXPECT_EQ(port.readAnswer(256, false), "\n\n+CSQ: 18,99\n\n\n\nOK");
}

TEST_F(PortFixture, StaleInputIsDiscardedBeforeTheNextCommand) {
    enc::AtPort port(m_timings, m_wake);
    ASSERT_TRUE(port.open("/dev/ttyUSB4"));
    const std::string stale = "\r\nOK\r\n";  // a late answer to an earlier command
    ASSERT_EQ(::write(m_master, stale.data(), stale.size()), static_cast<ssize_t>(stale.size()));
    ASSERT_TRUE(testsupport::waitFor([&] {
        pollfd pfd{m_keeper, POLLIN, 0};
        return ::poll(&pfd, 1, 0) > 0;
    }));
    port.sendAt("AT+CSQ\r");
    drainMaster();
    const std::string reply = "\r\n+CSQ: 7,99\r\n\r\nOK\r\n";
    ASSERT_EQ(::write(m_master, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
    EXPECT_EQ(port.readAnswer(256, false), "\n\n+CSQ: 7,99\n\n\n\nOK");
}

TEST_F(PortFixture, ReadTimesOutWithNothingAndEndsAtOnceWhenWoken) {
    enc::AtPort port(m_timings, m_wake);
    ASSERT_TRUE(port.open("/dev/ttyUSB4"));
    char byte = 0;
    EXPECT_EQ(port.readAtByte(byte), 0);
    m_timings.readTimeout = std::chrono::hours(1);
    m_wake.wake();
    EXPECT_EQ(port.readAtByte(byte), 0);
}

TEST_F(PortFixture, MissingPortFailsToOpen) {
    ::unlink(m_board.path("/dev/ttyUSB4").c_str());
    enc::AtPort port(m_timings, m_wake);
    EXPECT_FALSE(port.open("/dev/ttyUSB4"));
    EXPECT_FALSE(port.isOpen());
}

}  // namespace
