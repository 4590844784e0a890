#pragma once

#include <string>

namespace discover {

/// The random MAC address of DEVICE_RANDOM_MAC_CMD: 62:12:34:56 (a locally administered
/// prefix) followed by the character codes of two random hexadecimal digits.
namespace RandomMac {

/// A new address, "62:12:34:56:%02x:%02x" in lower-case hex.
std::string make();

/// The address with the given last two bytes.
std::string format(unsigned char c1, unsigned char c2);

/// One random hexadecimal digit ('0'-'9', 'A'-'F' or 'a'-'f'): reseeds the C generator
/// from the microseconds of the clock, so two calls in the same microsecond agree.
char randomHexChar();

/// The digit a given rand() result maps to (the rest of randomHexChar).
char hexCharFromRand(int randValue);

}  // namespace RandomMac

}  // namespace discover
