#include "OwnHosts.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cctype>

namespace http {

namespace {

std::string lower(const std::string& text) {
    std::string out;
    for (const char c : text) {
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

}  // namespace

void OwnHosts::setExtraNames(const std::vector<std::string>& names) {
    m_extra = names;
    m_read = false;
}

bool OwnHosts::contains(const std::string& host) {
    const auto now = std::chrono::steady_clock::now();
    if (!m_read || now - m_readAt >= kRefresh) {
        refresh();
        m_readAt = now;
        m_read = true;
    }
    return m_hosts.count(host) != 0;
}

void OwnHosts::refresh() {
    m_hosts = {"localhost", "127.0.0.1", "[::1]"};
    for (const std::string& name : m_extra) {
        m_hosts.insert(lower(name));
    }
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') {
        m_hosts.insert(lower(name));
        m_hosts.insert(lower(name) + ".local");
    }
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return;
    }
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr) {
            continue;
        }
        char text[INET6_ADDRSTRLEN] = {};
        if (i->ifa_addr->sa_family == AF_INET) {
            const auto* a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
            if (::inet_ntop(AF_INET, &a->sin_addr, text, sizeof text) != nullptr) {
                m_hosts.insert(text);
            }
        } else if (i->ifa_addr->sa_family == AF_INET6) {
            const auto* a = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr);
            if (::inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text) != nullptr) {
                m_hosts.insert("[" + lower(text) + "]");
            }
        }
    }
    ::freeifaddrs(list);
}

}  // namespace http
