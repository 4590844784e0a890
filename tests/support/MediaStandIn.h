#pragma once
// A stand-in for the media process in tests: binds the server socket of the media link,
// records every message it receives, and sends status records on demand. It builds and
// parses the 36-byte header itself, as the media process does, so tests check the wire
// format rather than this project's own structures.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "DatagramReceiver.h"

namespace testsupport {

class MediaStandIn {
public:
    struct Received {
        std::string magic;  // the first four bytes
        int32_t code = 0;
        int32_t length = 0;
        int32_t length2 = 0;
        std::vector<uint8_t> payload;  // bytes after the header
        size_t size = 0;               // datagram size
    };

    /// Binds serverPath (removing a stale file) and sends to clientPath; both real paths.
    MediaStandIn(const std::string& serverPath, const std::string& clientPath);

    bool ok() const { return m_socket.ok(); }

    /// Codes received so far, in order.
    std::vector<int> codes() const;
    std::vector<Received> messages() const;
    /// Waits until a message with this code has arrived (deadline wait).
    bool waitForCode(int code, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    /// Waits until at least count messages have arrived.
    bool waitForCount(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void clear();

    /// Sends a status datagram: header with magic "HT_V", the code and the payload length
    /// twice, then the payload. True when the datagram was sent.
    bool sendRecord(int32_t code, const void* payload, size_t length);

private:
    void receive(const uint8_t* data, size_t size);

    std::string m_clientPath;
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<Received> m_messages;
    DatagramReceiver m_socket;  // last: its thread stops before the members above go
};

}  // namespace testsupport
