#pragma once
// A level-triggered wake-up for a worker's waits: once set, every wait returns at once
// until it is reset. Waits can also include other descriptors (see fd()).

#include <chrono>

namespace comn {

class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    /// Sets the event; thread-safe and async-signal-safe.
    void wake();
    /// Clears the event (before a worker starts again).
    void reset();
    bool isSet() const;

    /// Waits up to `duration`; true when the event is set (before or during the wait).
    bool wait(std::chrono::milliseconds duration) const;

    /// Readable while the event is set; for poll() together with other descriptors.
    int fd() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace comn
