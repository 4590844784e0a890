#include "MediaStandIn.h"

#include <cstring>

namespace testsupport {
namespace {

constexpr size_t kHeaderSize = 36;

int32_t readInt(const uint8_t* at) {
    int32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

}  // namespace

MediaStandIn::MediaStandIn(const std::string& serverPath, const std::string& clientPath)
    : m_clientPath(clientPath),
      m_socket(serverPath, [this](const uint8_t* data, size_t size) { receive(data, size); }) {}

void MediaStandIn::receive(const uint8_t* data, size_t size) {
    Received message;
    message.size = size;
    if (size >= kHeaderSize) {
        message.magic.assign(reinterpret_cast<const char*>(data), 4);
        message.code = readInt(data + 8);
        message.length = readInt(data + 12);
        message.length2 = readInt(data + 16);
        message.payload.assign(data + kHeaderSize, data + size);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(std::move(message));
    }
    m_arrived.notify_all();
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
    return m_socket.sendTo(m_clientPath, datagram.data(), datagram.size());
}

}  // namespace testsupport
