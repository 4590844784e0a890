#include "MediaLink.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "MediaMessage.h"
#include "MediaState.h"
#include "board/Board.h"

namespace enc {
namespace {

// Both directions carry at most a few status records at a time; the media process expects
// these buffer sizes.
constexpr int kSocketBufferSize = 102400;
// The main loop wakes at least this often to check its running flag and timers.
constexpr int kReceiveTimeoutMs = 3000;
// 110: the family word and a 108-byte path field, the address length the peer expects.
constexpr socklen_t kAddressLength = sizeof(sockaddr_un);
constexpr size_t kMaxPathLength = sizeof(sockaddr_un::sun_path) - 1;
static_assert(kAddressLength == 110, "the media process expects 110-byte addresses");

}  // namespace

MediaLink::MediaLink() {
    std::memset(&m_peer, 0, sizeof m_peer);
}

MediaLink::~MediaLink() {
    closeLink();
}

MediaLink& MediaLink::instance() {
    static MediaLink link;
    return link;
}

bool MediaLink::openLink(const char* bindPath) {
    if (bindPath == nullptr || std::strlen(bindPath) > kMaxPathLength) {
        return false;
    }
    closeLink();
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::perror("cannot create addr fd.\n");
        return false;
    }
    ::unlink(bindPath);
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, bindPath, std::strlen(bindPath));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), kAddressLength) != 0) {
        ::close(fd);
        return false;
    }
    const int size = kSocketBufferSize;
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) != 0) {
        std::perror("setsockopt error.");
        ::close(fd);
        return false;
    }
    m_fd.store(fd);
    return true;
}

void MediaLink::setPeer(const char* path) {
    std::memset(&m_peer, 0, sizeof m_peer);
    m_peer.sun_family = AF_UNIX;
    if (path != nullptr) {
        std::strncpy(m_peer.sun_path, path, kMaxPathLength);
    }
}

bool MediaLink::startMediaLink() {
    const bool opened = openLink(board::path(kClientSocket).c_str());
    setPeer(board::path(kServerSocket).c_str());
    return opened;
}

void MediaLink::closeLink() {
    const int fd = m_fd.exchange(-1);
    if (fd >= 0) {
        ::close(fd);
    }
}

bool MediaLink::sendMediaCode(int code) {
    return sendMediaMessage(0, code, nullptr, 0);
}

bool MediaLink::sendMediaMessage(int kind, int code, const void* payload, size_t length) {
    if (length > kMediaMaxPayload || (length > 0 && payload == nullptr)) {
        return false;
    }
    uint8_t buffer[kMediaSendBufferSize];
    std::memset(buffer, 0, sizeof buffer);
    MediaMessage header;
    std::memset(&header, 0, sizeof header);
    if (kind == 0) {
        std::memcpy(header.magic, "HT_O", 4);
    } else if (kind == 1) {
        std::memcpy(header.magic, "HT_V", 4);
    }
    header.code = code;
    header.length = static_cast<int32_t>(length);
    header.length2 = static_cast<int32_t>(length);
    std::memcpy(buffer, &header, sizeof header);
    if (length > 0) {
        std::memcpy(buffer + kMediaHeaderSize, payload, length);
    }

    const int fd = m_fd.load();
    if (fd < 1) {
        return false;
    }
    // Status records already queued are stale by the time the media process has acted on
    // this change; the next periodic record replaces them.
    drain();
    const ssize_t sent = ::sendto(fd, buffer, kMediaHeaderSize + length, MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&m_peer), kAddressLength);
    return sent > 0;
}

void MediaLink::drain() {
    const int fd = m_fd.load();
    uint8_t discard[kMediaReceiveBufferSize];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0) {
            return;
        }
        if (::recv(fd, discard, sizeof discard, MSG_DONTWAIT) < 0 && errno != EINTR) {
            return;
        }
    }
}

bool MediaLink::receiveMediaMessage(void* buffer, size_t capacity, size_t* received, int wakeFd) {
    if (buffer == nullptr) {
        return false;
    }
    // A datagram shorter than its record must never leave bytes of an earlier one behind.
    std::memset(buffer, 0, capacity);
    const int fd = m_fd.load();
    if (fd < 1) {
        return false;
    }
    pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int ready = ::poll(p, wakeFd >= 0 ? 2 : 1, kReceiveTimeoutMs);
    if (ready <= 0 || (p[1].revents & POLLIN) != 0 || (p[0].revents & POLLIN) == 0) {
        return false;
    }
    const ssize_t n = ::recv(fd, buffer, capacity, MSG_DONTWAIT);
    if (n < 0) {
        return false;
    }
    if (received != nullptr) {
        *received = static_cast<size_t>(n);
    }
    return true;
}

bool MediaLink::relayTo(MediaState& state, int wakeFd) {
    uint8_t buffer[kMediaReceiveBufferSize];
    size_t received = 0;
    if (!receiveMediaMessage(buffer, sizeof buffer, &received, wakeFd)) {
        return false;
    }
    // A short datagram's record is completed with zeros; the outputs status, whose parts
    // announce their own length, needs the real size to refuse a cut part.
    state.applyMessage(buffer, received);
    // What else is waiting is taken now: the main loop pauses between passes, and the
    // media process sends several records a second (the outputs status in parts).
    const int fd = m_fd.load();
    for (int more = 0; more < kMaxRecordsPerPass; ++more) {
        std::memset(buffer, 0, sizeof buffer);
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0) {
            break;
        }
        state.applyMessage(buffer, static_cast<size_t>(n));
    }
    return true;
}

}  // namespace enc
