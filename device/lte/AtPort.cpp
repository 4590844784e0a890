#include "AtPort.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "board/Device.h"

namespace enc {

AtPort::AtPort(const LteTimings& timings, const comn::WakeEvent& wake)
    : m_timings(timings), m_wake(wake) {}

AtPort::~AtPort() {
    close();
}

bool AtPort::open(const std::string& boardPath) {
    close();
    const int fd = board::openDevice(boardPath, O_RDWR | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    termios saved{};
    if (::tcgetattr(fd, &saved) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    termios line{};  // every flag and control character not named below is 0
    line.c_cflag = B115200 | CS8;
    line.c_iflag = IGNPAR | ICRNL;
    line.c_oflag = 0;
    line.c_lflag = ICANON;
    line.c_cc[VEOF] = 4;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    ::cfsetispeed(&line, B115200);
    ::cfsetospeed(&line, B115200);
    ::tcflush(fd, TCIFLUSH);
    if (::tcsetattr(fd, TCSANOW, &line) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    m_fd = fd;
    m_saved = saved;
    return true;
}

void AtPort::close() {
    if (m_fd < 0) {
        return;
    }
    ::tcsetattr(m_fd, TCSANOW, &m_saved);
    ::close(m_fd);
    m_fd = -1;
}

void AtPort::sendAt(const std::string& command) {
    if (m_fd < 0) {
        return;
    }
    ::tcflush(m_fd, TCIFLUSH);
    const std::string bytes = command + "\r";
    for (char c : bytes) {
        if (::write(m_fd, &c, 1) != 1) {
            break;
        }
        std::this_thread::sleep_for(m_timings.byteGap);
    }
    m_wake.wait(m_timings.answerWait);
    ::tcdrain(m_fd);
}

int AtPort::readAtByte(char& byte) {
    if (m_fd < 0) {
        return -1;
    }
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake.fd(), POLLIN, 0}};
    int rc;
    do {
        rc = ::poll(fds, 2, static_cast<int>(m_timings.readTimeout.count()));
    } while (rc < 0 && errno == EINTR);
    if (rc <= 0 || (fds[1].revents & POLLIN) != 0) {
        return 0;
    }
    if ((fds[0].revents & POLLIN) == 0) {
        return -1;  // hang-up or error on the port
    }
    const ssize_t n = ::read(m_fd, &byte, 1);
    return n == 1 ? 1 : -1;
}

std::string AtPort::readAnswer(size_t capacity, bool stopAtK) {
    std::string answer;
    char byte = 0;
    while (answer.size() < capacity && readAtByte(byte) == 1) {
        answer += byte;
        if (stopAtK && byte == 'K') {
            break;
        }
        if (answer.size() >= 2 && answer.compare(answer.size() - 2, 2, "OK") == 0) {
            break;
        }
    }
    return answer;
}

}  // namespace enc
