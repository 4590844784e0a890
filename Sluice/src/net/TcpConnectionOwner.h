#pragma once

#include <cstdint>

namespace av {

/// What a TcpConnection may ask of the server that accepted it, and nothing more: the
/// connection depends on this interface, never on the server, so the two do not include
/// each other.
class TcpConnectionOwner {
public:
    /// From a bufferevent callback: the connection set up with fd and serial is to be
    /// released by the owner's loop once the callback has returned. Must take no lock that
    /// is held around the owner's table operations.
    virtual void requestRemoval(int fd, uint64_t serial) = 0;

protected:
    ~TcpConnectionOwner() = default;
};

}  // namespace av
