#include "RandomMac.h"

#include <sys/time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace discover {

std::string RandomMac::make() {
    const char c1 = randomHexChar();
    const char c2 = randomHexChar();
    return format(static_cast<unsigned char>(c1), static_cast<unsigned char>(c2));
}

std::string RandomMac::format(unsigned char c1, unsigned char c2) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", 0x62, 0x12, 0x34, 0x56, c1,
                  c2);
    return text;
}

char RandomMac::randomHexChar() {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    std::srand(static_cast<unsigned>(now.tv_usec));
    return hexCharFromRand(std::rand());
}

char RandomMac::hexCharFromRand(int randValue) {
    // Unsigned arithmetic: the products wrap modulo 2^32 instead of overflowing an int.
    const uint32_t x = 100000u * static_cast<uint32_t>(randValue);
    const uint32_t y = x * 1664525u + 1013904223u;  // one step of a linear congruential mix
    const unsigned b = y >> 24;
    if (b < 65) {
        return static_cast<char>('0' + b % 10);
    }
    if (b <= 69) {
        return static_cast<char>('A' + b % 6);
    }
    if (b >= 97 && b <= 102) {
        return static_cast<char>(b);
    }
    return static_cast<char>('a' + b % 6);
}

}  // namespace discover
