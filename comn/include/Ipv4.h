#pragma once
// IPv4 address texts, shared by every program that takes addresses from people or peers.

#include <cstdint>
#include <string>

namespace comn {

/// A complete dotted quad: four groups of one to three digits, each 0..255, separated by
/// single dots ("1..2.3", "1.2.3." and ".1.2.3" are refused), none with a leading zero
/// ("010.1.1.1" is refused: glibc's resolver reads it as octal, inet_pton refuses it).
/// Texts from people and peers end in files other programs parse (resolv.conf, the
/// settings file), so nothing else may pass.
bool isValidIpv4(const std::string& text);

/// Dotted text of an address in network byte order.
std::string ipv4Text(uint32_t networkOrder);

}  // namespace comn
