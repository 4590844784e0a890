#include "WakeEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdint>

namespace comn {

WakeEvent::WakeEvent() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    assert(m_fd >= 0);
}

WakeEvent::~WakeEvent() {
    ::close(m_fd);
}

void WakeEvent::wake() {
    const uint64_t one = 1;
    // The counter saturates long before it could overflow; a full counter is still set.
    [[maybe_unused]] ssize_t n = ::write(m_fd, &one, sizeof one);
}

void WakeEvent::reset() {
    uint64_t value = 0;
    [[maybe_unused]] ssize_t n = ::read(m_fd, &value, sizeof value);
}

bool WakeEvent::isSet() const {
    return wait(std::chrono::milliseconds(0));
}

bool WakeEvent::wait(std::chrono::milliseconds duration) const {
    pollfd pfd{m_fd, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + duration;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int rc = ::poll(&pfd, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
        if (rc > 0) {
            return true;
        }
        if (rc == 0 || errno != EINTR) {
            return false;
        }
    }
}

}  // namespace comn
