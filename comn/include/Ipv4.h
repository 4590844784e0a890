#pragma once
// IPv4 address texts, shared by every program that takes addresses from people or peers.

#include <cstdint>
#include <string>

namespace comn {

/// The device's rule for a dotted address: not empty, no leading ".", only digits and dots,
/// exactly three dots, every group 0..255 (an empty group counts as 0, so "1..2.3" passes).
bool isValidIpv4(const std::string& text);

/// Dotted text of an address in network byte order.
std::string ipv4Text(uint32_t networkOrder);

}  // namespace comn
