#include "MediaStandIn.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace testsupport {
namespace {

constexpr size_t kHeaderSize = 36;
// How often the receive loop looks at its stop flag.
constexpr int kStopCheckMs = 50;

int32_t readInt(const uint8_t* at) {
    int32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

}  // namespace

MediaStandIn::MediaStandIn(const std::string& serverPath, const std::string& clientPath)
    : m_serverPath(serverPath) {
    m_client.sun_family = AF_UNIX;
    std::strncpy(m_client.sun_path, clientPath.c_str(), sizeof m_client.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, serverPath.c_str(), sizeof address.sun_path - 1);
    ::unlink(serverPath.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return;
    }
    m_fd = fd;
    m_thread = std::thread([this] { receiveLoop(); });
}

MediaStandIn::~MediaStandIn() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlink(m_serverPath.c_str());
    }
}

void MediaStandIn::receiveLoop() {
    uint8_t buffer[2048];
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, kStopCheckMs) <= 0) {
            continue;
        }
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0) {
            continue;
        }
        Received message;
        message.size = static_cast<size_t>(n);
        if (message.size >= kHeaderSize) {
            message.magic.assign(reinterpret_cast<const char*>(buffer), 4);
            message.code = readInt(buffer + 8);
            message.length = readInt(buffer + 12);
            message.length2 = readInt(buffer + 16);
            message.payload.assign(buffer + kHeaderSize, buffer + n);
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_messages.push_back(std::move(message));
        }
        m_arrived.notify_all();
    }
}

std::vector<int> MediaStandIn::codes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<int> result;
    for (const auto& m : m_messages) {
        result.push_back(m.code);
    }
    return result;
}

std::vector<MediaStandIn::Received> MediaStandIn::messages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

bool MediaStandIn::waitForCode(int code, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, timeout, [&] {
        for (const auto& m : m_messages) {
            if (m.code == code) {
                return true;
            }
        }
        return false;
    });
}

bool MediaStandIn::waitForCount(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, timeout, [&] { return m_messages.size() >= count; });
}

void MediaStandIn::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.clear();
}

bool MediaStandIn::sendRecord(int32_t code, const void* payload, size_t length) {
    std::vector<uint8_t> datagram(kHeaderSize + length, 0);
    std::memcpy(datagram.data(), "HT_V", 4);
    const int32_t len = static_cast<int32_t>(length);
    std::memcpy(datagram.data() + 8, &code, 4);
    std::memcpy(datagram.data() + 12, &len, 4);
    std::memcpy(datagram.data() + 16, &len, 4);
    if (length > 0) {
        std::memcpy(datagram.data() + kHeaderSize, payload, length);
    }
    return ::sendto(m_fd, datagram.data(), datagram.size(), 0,
                    reinterpret_cast<const sockaddr*>(&m_client),
                    sizeof m_client) == static_cast<ssize_t>(datagram.size());
}

}  // namespace testsupport
