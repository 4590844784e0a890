#pragma once
// The media process's end of the media link: a Unix-domain datagram socket bound to the
// server address, sending status records to the client address (Quillon's) and receiving
// change codes from it. Message layout and codes come from device/MediaMessage.h.

#include <sys/un.h>

#include <cstddef>
#include <string>

namespace ksim {

class MediaPeer {
public:
    MediaPeer() = default;
    ~MediaPeer();
    MediaPeer(const MediaPeer&) = delete;
    MediaPeer& operator=(const MediaPeer&) = delete;

    /// Binds serverPath (a real path; a stale file there is removed) and remembers
    /// clientPath as the destination. False with a reason (strerror) on failure.
    bool open(const std::string& serverPath, const std::string& clientPath, std::string& why);
    /// Closes the socket and removes the bound file.
    void close();

    /// Sends one status record: header with magic "HT_V" (kind 1), the code and the length
    /// twice, then the payload. False when it could not be sent (Quillon not running).
    bool sendRecord(int code, const void* payload, size_t length);

    /// Waits at most timeoutMs for a message and returns its code in *code. False on
    /// time-out, on a signal, or for a datagram too short to hold a code.
    bool receiveCode(int timeoutMs, int* code);

    int fd() const { return m_fd; }

private:
    int m_fd = -1;
    std::string m_serverPath;
    sockaddr_un m_client{};
};

}  // namespace ksim
