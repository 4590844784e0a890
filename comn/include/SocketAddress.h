#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>

namespace comn {

/// An IPv4 socket address built from a host text and a port.
///
/// The host is taken as follows: null or empty means any address ("0.0.0.0"); a text of
/// decimal digits and dots only is used as it is, without a name lookup (so a multicast
/// group or a dotted address never waits on the resolver); anything else is resolved with
/// getaddrinfo, and a name that does not resolve to an IPv4 address gives "0.0.0.0".
/// A dotted text that is not a valid address (for example "1.2.3.4.5") gives all ones,
/// as inet_addr does. Plain value; copy freely.
class SocketAddress {
public:
    SocketAddress() : SocketAddress(nullptr, 0) {}
    SocketAddress(const char* host, uint16_t port);
    SocketAddress(const std::string& host, uint16_t port) : SocketAddress(host.c_str(), port) {}

    void set(const char* host, uint16_t port);
    void set(const std::string& host, uint16_t port) { set(host.c_str(), port); }

    /// Dotted-quad text of the address.
    std::string getIp() const;
    /// Port in host byte order.
    uint16_t getPort() const;

    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&m_addr); }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&m_addr); }
    const sockaddr_in& in() const { return m_addr; }
    socklen_t length() const { return m_length; }
    socklen_t* lengthPtr() { return &m_length; }

private:
    sockaddr_in m_addr;
    socklen_t m_length;
};

}  // namespace comn

using comn::SocketAddress;
