#include "Ipv4.h"

#include <arpa/inet.h>

namespace comn {

bool isValidIpv4(const std::string& text) {
    if (text.empty() || text[0] == '.') {
        return false;
    }
    int dots = 0;
    int group = 0;
    for (const char c : text) {
        if (c == '.') {
            ++dots;
            group = 0;
        } else if (c >= '0' && c <= '9') {
            group = group * 10 + (c - '0');
            if (group > 255) {
                return false;
            }
        } else {
            return false;
        }
    }
    return dots == 3;
}

std::string ipv4Text(uint32_t networkOrder) {
    in_addr in{};
    in.s_addr = networkOrder;
    char text[INET_ADDRSTRLEN] = {0};
    ::inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
}

}  // namespace comn
