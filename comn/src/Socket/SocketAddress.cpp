#include "SocketAddress.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>

namespace comn {
namespace {

bool isDottedText(const char* host) {
    for (const char* p = host; *p != '\0'; ++p) {
        if ((*p < '0' || *p > '9') && *p != '.') {
            return false;
        }
    }
    return true;
}

std::string resolve(const char* host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* result = nullptr;
    std::string text = "0.0.0.0";
    if (::getaddrinfo(host, nullptr, &hints, &result) != 0) {
        return text;
    }
    for (const addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET) {
            char buf[INET_ADDRSTRLEN] = {};
            const auto* in = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
            ::inet_ntop(AF_INET, &in->sin_addr, buf, sizeof buf);
            text = buf;
            break;
        }
    }
    ::freeaddrinfo(result);
    return text;
}

}  // namespace

SocketAddress::SocketAddress(const char* host, uint16_t port) {
    std::memset(&m_addr, 0, sizeof m_addr);
    m_length = sizeof m_addr;
    set(host, port);
}

void SocketAddress::set(const char* host, uint16_t port) {
    std::string text;
    if (host == nullptr || host[0] == '\0') {
        text = "0.0.0.0";
    } else if (isDottedText(host)) {
        text = host;
    } else {
        text = resolve(host);
    }
    std::memset(&m_addr, 0, sizeof m_addr);
    m_addr.sin_family = AF_INET;
    m_addr.sin_addr.s_addr = ::inet_addr(text.c_str());
    m_addr.sin_port = htons(port);
    m_length = sizeof m_addr;
}

std::string SocketAddress::getIp() const {
    char buf[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &m_addr.sin_addr, buf, sizeof buf);
    return buf;
}

uint16_t SocketAddress::getPort() const {
    return ntohs(m_addr.sin_port);
}

}  // namespace comn
