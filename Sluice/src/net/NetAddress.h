#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace av {

/// A cast target: address (or host) text and port. Two targets are equal when the texts are
/// equal byte for byte and the ports are equal, so "10.0.0.1" and "10.0.0.01" are two
/// different targets.
class NetAddress {
public:
    NetAddress() = default;
    NetAddress(const std::string& ip, uint16_t port) : m_ip(ip), m_port(port) {}
    virtual ~NetAddress() = default;
    NetAddress(const NetAddress&) = default;
    NetAddress& operator=(const NetAddress&) = default;

    void set(const std::string& ip, uint16_t port) {
        m_ip = ip;
        m_port = port;
    }
    const std::string& ip() const { return m_ip; }
    uint16_t port() const { return m_port; }

    bool operator==(const NetAddress& other) const {
        return m_port == other.m_port && m_ip == other.m_ip;
    }
    bool operator!=(const NetAddress& other) const { return !(*this == other); }

private:
    std::string m_ip;
    uint16_t m_port = 0;
};

/// For hashed indexes of targets (adding or removing one costs the same at any count).
struct NetAddressHash {
    size_t operator()(const NetAddress& address) const {
        return std::hash<std::string>()(address.ip()) * 31 + address.port();
    }
};

}  // namespace av
