#include "SystemFiles.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "board/Board.h"

namespace discover {
namespace {

/// A 32-bit hexadecimal field of /proc/net/route (the address as the kernel holds it).
std::optional<uint32_t> hexField(const std::string& text) {
    if (text.empty() || text.size() > 8) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text.c_str(), &end, 16);
    if (errno != 0 || *end != '\0') {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace

std::optional<std::string> SystemFiles::read(const std::string& boardPath) {
    std::ifstream in(board::path(boardPath), std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string SystemFiles::defaultGateway(const std::string& routeText) {
    std::istringstream lines(routeText);
    std::string line;
    std::getline(lines, line);  // column titles
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway;
        if (!(fields >> iface >> destination >> gateway)) {
            continue;
        }
        const auto dest = hexField(destination);
        const auto gw = hexField(gateway);
        if (!dest || !gw || *dest != 0) {
            continue;
        }
        in_addr addr{};
        addr.s_addr = *gw;  // the kernel prints the address in its own byte order
        char text[INET_ADDRSTRLEN] = {0};
        ::inet_ntop(AF_INET, &addr, text, sizeof text);
        return text;
    }
    return std::string();
}

std::string SystemFiles::firstNameServer(const std::string& resolvText) {
    std::istringstream lines(resolvText);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string keyword, server;
        if (fields >> keyword >> server && keyword == "nameserver") {
            return server;
        }
    }
    return std::string();
}

std::string SystemFiles::firstWord(const std::string& text) {
    std::istringstream in(text);
    std::string word;
    in >> word;
    return word;
}

}  // namespace discover
