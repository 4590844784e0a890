#pragma once

#include <cstddef>

#include "SocketAddress.h"

namespace comn {

/// A thin IPv4 socket: an owned or borrowed descriptor with the few operations the casters
/// need. The destructor never closes the descriptor; owners call close() (or detach() a
/// borrowed one). Results are those of the system calls, with errno left for the caller;
/// nothing is logged. Not locked: one thread at a time (its owner's lock or thread).
class Socket {
public:
    Socket() = default;
    ~Socket() = default;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool isOpen() const { return m_fd != -1; }
    int fd() const { return m_fd; }

    /// Creates socket(AF_INET, type, 0); true when a descriptor was made.
    /// Precondition: not open (assertion "!isOpen()").
    bool open(int type);
    /// When open: shutdown both directions, close, descriptor -1. Nothing when closed.
    void close();
    /// Borrows fd without any check (a previous descriptor is not closed).
    void attach(int fd) { m_fd = fd; }
    /// Gives the descriptor back without closing it; the socket becomes closed.
    int detach();

    /// bind(2) result.
    int bind(const SocketAddress& address);
    /// sendto(2) result.
    int sendTo(const void* data, size_t length, int flags, const SocketAddress& address);
    /// SO_SNDBUF; true on success.
    bool setSendBufferSize(int bytes);
    /// The peer's address, or 0.0.0.0 port 0 when getpeername fails.
    SocketAddress getPeerName() const;
    /// The local address, or 0.0.0.0 port 0 when getsockname fails.
    SocketAddress getSockName() const;

    /// Process-wide start: a broken pipe becomes an error return instead of ending the
    /// process, unless the host process installed its own SIGPIPE handler, which is kept.
    /// Always true.
    static bool startup();
    /// Process-wide stop: undoes only an ignore setting of SIGPIPE (back to the default).
    static void cleanup();

private:
    int m_fd = -1;
};

}  // namespace comn
