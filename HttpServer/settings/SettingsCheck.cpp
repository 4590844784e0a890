#include "SettingsCheck.h"

#include <algorithm>
#include <cctype>

#include "Ipv4.h"

namespace enc {
namespace {

// Limits of IEEE 802.11 (SSID) and of WPA's passphrase.
constexpr size_t kMaxEssidBytes = 32;
constexpr size_t kMinWpaKey = 8;
constexpr size_t kMaxWpaKey = 63;

bool isControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
}

bool isHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool emptyOrIpv4(const std::string& text) {
    return text.empty() || comn::isValidIpv4(text);
}

}  // namespace

bool SettingsCheck::isMacAddress(std::string_view text) {
    // "xx:" five times and a last "xx".
    constexpr size_t kLength = 17;
    if (text.size() != kLength) {
        return false;
    }
    for (size_t i = 0; i < kLength; ++i) {
        const bool separator = i % 3 == 2;
        if (separator ? text[i] != ':' : !isHex(text[i])) {
            return false;
        }
    }
    return true;
}

bool SettingsCheck::isEssid(std::string_view text) {
    // Other bytes (UTF-8 names) are the access point's business; these would break the line
    // or the quotes of the network block.
    return !text.empty() && text.size() <= kMaxEssidBytes &&
           std::none_of(text.begin(), text.end(), [](char c) { return isControl(c) || c == '"'; });
}

bool SettingsCheck::isWpaKey(std::string_view text) {
    return text.size() >= kMinWpaKey && text.size() <= kMaxWpaKey &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return c >= ' ' && c <= '~' && c != '"'; });
}

std::string SettingsCheck::network(const NetworkSettings& r) {
    const std::pair<const char*, const std::string*> required[] = {
        {"ip", &r.ip}, {"mask", &r.mask}, {"gate", &r.gate}, {"dnsFirst", &r.dnsFirst}};
    for (const auto& [key, text] : required) {
        if (!comn::isValidIpv4(*text)) {
            return std::string(key) + " must be a dotted IPv4 address such as 192.168.1.10";
        }
    }
    if (!emptyOrIpv4(r.dnsSecond)) {
        return "dnsSecond must be empty or a dotted IPv4 address";
    }
    if (!r.mac.empty() && !isMacAddress(r.mac)) {
        return "mac must be a MAC address such as 44:03:2c:56:79:40";
    }
    return std::string();
}

std::string SettingsCheck::wifi(const WifiSettings& r) {
    if (!isEssid(r.essid)) {
        return "essid must have 1 to 32 bytes and no control characters or '\"'";
    }
    if (r.encrypt != 0 ? !isWpaKey(r.key) : std::any_of(r.key.begin(), r.key.end(), [](char c) {
            return isControl(c) || c == '"';
        })) {
        return "key must have 8 to 63 printable ASCII characters and no '\"'";
    }
    const std::pair<const char*, const std::string*> optional[] = {
        {"ip", &r.ip}, {"mask", &r.mask}, {"gate", &r.gate}};
    for (const auto& [key, text] : optional) {
        if (!emptyOrIpv4(*text)) {
            return std::string(key) + " must be empty or a dotted IPv4 address";
        }
    }
    return std::string();
}

std::string SettingsCheck::security(const SecuritySettings& r) {
    const std::pair<const char*, int> flags[] = {{"httpsOnly", r.httpsOnly},
                                                 {"provisionLock", r.provisionLock}};
    for (const auto& [key, value] : flags) {
        if (value != 0 && value != 1) {
            return std::string(key) + " must be 0 or 1";
        }
    }
    return std::string();
}

std::string SettingsCheck::errorDocument(std::string_view reason) {
    std::string out = "{\"error\":\"";
    for (const char c : reason) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += isControl(c) ? ' ' : c;
    }
    return out + "\"}";
}

bool SettingsCheck::refused(const std::string& reason, std::string& response) {
    if (reason.empty()) {
        return false;
    }
    response = errorDocument(reason);
    return true;
}

}  // namespace enc
