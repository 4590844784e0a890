#pragma once

#include <sys/un.h>

#include <atomic>
#include <cstddef>
#include <string>

#include "MediaSender.h"

namespace enc {

class MediaState;

/// The datagram link to the media process: a Unix-domain datagram socket bound to our own
/// address, sending every message to the peer's address. Change codes go out; status
/// records come in.
///
/// Thread rules: one thread sends (the HTTP worker, through the device handler) while
/// another receives (the main loop); the socket is shared without a lock, as the kernel
/// serialises datagrams. openLink/closeLink are called while neither runs.
class MediaLink : public MediaSender {
public:
    /// Board paths of the two addresses.
    static constexpr const char* kClientSocket = "/tmp/client.socket";  // bound by us
    static constexpr const char* kServerSocket = "/tmp/server.socket";  // bound by the peer

    MediaLink();
    ~MediaLink() override;
    MediaLink(const MediaLink&) = delete;
    MediaLink& operator=(const MediaLink&) = delete;

    /// The process-wide link of the program.
    static MediaLink& instance();

    /// Creates the socket, removes any file at bindPath (a real path), binds to it and sets
    /// both socket buffers to 102400 bytes. False on any failure (the socket is then
    /// closed), for a null path, or for a path longer than an address can hold.
    bool openLink(const char* bindPath);
    /// The address every message goes to (a real path; at most 107 characters are kept).
    void setPeer(const char* path);
    /// openLink on the board's client socket, then setPeer on its server socket.
    /// The result is that of openLink; a link without socket sends and receives nothing.
    bool startMediaLink();
    /// Closes the socket when open.
    void closeLink();

    /// A kind-0 message with the code and no payload.
    bool sendMediaCode(int code) override;
    /// Builds the header (magic "HT_O" for kind 0, "HT_V" for kind 1, zero for any other),
    /// appends at most 220 payload bytes (false for more), drains datagrams already waiting
    /// on our socket, and sends 36 + length bytes to the peer. True when it was sent.
    bool sendMediaMessage(int kind, int code, const void* payload, size_t length);
    /// Zero-fills buffer, waits at most 3 seconds for a datagram and reads one of at most
    /// capacity bytes. True only when a datagram was read (its size in *received when
    /// given); false on time-out, on a failed read or without socket. A readable wakeFd
    /// (when not -1) ends the wait at once with false, so a shutdown need not sit out the
    /// 3 seconds; the descriptor is only polled, never read.
    bool receiveMediaMessage(void* buffer, size_t capacity, size_t* received = nullptr,
                             int wakeFd = -1);
    /// One step of the main loop: receive one datagram (up to 3 seconds, or until wakeFd is
    /// readable) and copy its record into state, then those already waiting behind it (at
    /// most kMaxRecordsPerPass more). True when a datagram was received, whatever its code.
    bool relayTo(MediaState& state, int wakeFd = -1);

    int fd() const { return m_fd.load(); }

    static constexpr int kMaxRecordsPerPass = 64;

private:
    void drain();

    std::atomic<int> m_fd{-1};
    sockaddr_un m_peer;
};

}  // namespace enc
