#include "Ipv4.h"

#include <arpa/inet.h>

namespace comn {

bool isValidIpv4(const std::string& text) {
    // Three digits at most per group: longer ones ("0001") are never an address people mean.
    constexpr int kMaxGroupDigits = 3;
    int dots = 0;
    int digits = 0;
    int group = 0;
    for (const char c : text) {
        if (c == '.') {
            if (digits == 0) {
                return false;  // ".1.2.3", "1..2.3"
            }
            ++dots;
            digits = 0;
            group = 0;
        } else if (c >= '0' && c <= '9') {
            if (digits == 1 && group == 0) {
                return false;  // "010": octal to some readers, refused by others
            }
            group = group * 10 + (c - '0');
            if (++digits > kMaxGroupDigits || group > 255) {
                return false;
            }
        } else {
            return false;
        }
    }
    return dots == 3 && digits > 0;  // "1.2.3." has no fourth group
}

std::string ipv4Text(uint32_t networkOrder) {
    in_addr in{};
    in.s_addr = networkOrder;
    char text[INET_ADDRSTRLEN] = {0};
    ::inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
}

}  // namespace comn
