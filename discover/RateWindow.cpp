#include "RateWindow.h"

namespace discover {

RateWindow::RateWindow(unsigned perWindow, Clock::duration window)
    : m_perWindow(perWindow), m_window(window) {}

bool RateWindow::ended(Clock::time_point now) const {
    return !m_started || now - m_start >= m_window;
}

bool RateWindow::allow(Clock::time_point now) {
    if (ended(now)) {
        m_start = now;
        m_count = 0;
        m_started = true;
    }
    if (m_count >= m_perWindow) {
        return false;
    }
    ++m_count;
    return true;
}

}  // namespace discover
