#pragma once
// The LTE modem's AT command port: a serial TTY in canonical mode, so the answer bytes
// become readable a whole line at a time.

#include <termios.h>

#include <string>

#include "LteTimings.h"
#include "WakeEvent.h"

namespace enc {

/// One open AT port. Used by the monitor thread only. Every wait also ends when `wake` is
/// set, so the monitor can be stopped at once.
class AtPort {
public:
    AtPort(const LteTimings& timings, const comn::WakeEvent& wake);
    ~AtPort();
    AtPort(const AtPort&) = delete;
    AtPort& operator=(const AtPort&) = delete;

    /// Opens the port (a board path such as "/dev/ttyUSB4"), keeps its settings for
    /// close() and configures it: B115200 | CS8 (no CREAD, no CLOCAL), IGNPAR | ICRNL, no
    /// output processing, ICANON only, VEOF 4, VMIN 1, VTIME 0, other control characters 0;
    /// pending input is flushed. False (errno set) when it cannot be opened or configured.
    bool open(const std::string& boardPath);

    /// Restores the previous settings and closes the port; nothing when not open.
    void close();
    bool isOpen() const { return m_fd >= 0; }

    /// Writes the command one byte at a time (byteGap apart), then one carriage return,
    /// waits answerWait and drains the output. The command texts already end in a carriage
    /// return, so each goes out followed by a second one. Input still pending from earlier
    /// commands is discarded first, so the next read sees only this command's answer.
    void sendAt(const std::string& command);

    /// Waits at most readTimeout for the port to become readable and reads one byte.
    /// 1 with the byte; 0 on time-out or when woken; -1 on a read error.
    int readAtByte(char& byte);

    /// Collects answer bytes until `capacity` bytes, until a "K" byte when stopAtK is set,
    /// until the bytes contain "OK", or until a read times out.
    std::string readAnswer(size_t capacity, bool stopAtK);

private:
    const LteTimings& m_timings;
    const comn::WakeEvent& m_wake;
    int m_fd = -1;
    termios m_saved{};
};

}  // namespace enc
