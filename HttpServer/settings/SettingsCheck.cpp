#include "SettingsCheck.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "Ipv4.h"
#include "SettingsDocument.h"
#include "SettingsKeys.h"

namespace enc {
namespace {

// Limits of IEEE 802.11 (SSID) and of WPA's passphrase.
constexpr size_t kMaxEssidBytes = 32;
constexpr size_t kMinWpaKey = 8;
constexpr size_t kMaxWpaKey = 63;
// DNS limits (RFC 1035): a whole name and one label.
constexpr size_t kMaxHostName = 253;
constexpr size_t kMaxLabel = 63;
// SRT's limits: the passphrase libsrt accepts, its stream ID buffer, and the latency range the
// pages offer (below 20 ms no network recovers a packet; above 8 s the picture is stale).
constexpr size_t kMinSrtPassphrase = 10;
constexpr size_t kMaxSrtPassphrase = 79;
constexpr size_t kMaxSrtStreamId = 512;
constexpr int kMinSrtLatencyMs = 20;
constexpr int kMaxSrtLatencyMs = 8000;
constexpr int kMaxPort = 65535;

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

bool isPrintableAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

bool isPort(int value) {
    return value >= 1 && value <= kMaxPort;
}

bool isLabel(std::string_view label) {
    return !label.empty() && label.size() <= kMaxLabel && label.front() != '-' &&
           label.back() != '-' && std::all_of(label.begin(), label.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
           });
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

bool SettingsCheck::isHostName(std::string_view text) {
    if (text.empty() || text.size() > kMaxHostName) {
        return false;
    }
    std::string_view last;
    for (std::string_view rest = text;;) {
        const size_t dot = rest.find('.');
        last = rest.substr(0, dot);
        if (!isLabel(last)) {
            return false;
        }
        if (dot == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(dot + 1);
    }
    return !std::all_of(last.begin(), last.end(),
                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
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
    return refusedValue(r);
}

std::string SettingsCheck::srt(const SrtSettings& r) {
    if (r.enabled != 0 && r.enabled != 1) {
        return "enabled must be 0 or 1";
    }
    const bool listener = r.mode == keys::kSrtModeListener;
    if (!listener && r.mode != keys::kSrtModeCaller) {
        return "mode must be listener or caller";
    }
    if (!isPort(r.port)) {
        return "port must be a number from 1 to 65535";
    }
    // A caller that is off may keep an unfinished address; one that is on needs both.
    const bool calling = !listener && r.enabled == 1;
    const bool addressOk = comn::isValidIpv4(r.callerAddr) || isHostName(r.callerAddr);
    if (calling && !addressOk) {
        return "callerAddr must be an IPv4 address or host name for a caller";
    }
    if (!calling && !r.callerAddr.empty() && !addressOk) {
        return "callerAddr must be empty, an IPv4 address or a host name";
    }
    if (calling && !isPort(r.callerPort)) {
        return "callerPort must be a number from 1 to 65535 for a caller";
    }
    if (!calling && r.callerPort != 0 && !isPort(r.callerPort)) {
        return "callerPort must be 0 or a number from 1 to 65535";
    }
    if (r.latency < kMinSrtLatencyMs || r.latency > kMaxSrtLatencyMs) {
        return "latency must be a number from 20 to 8000 ms";
    }
    if (!r.passphrase.empty() &&
        (r.passphrase.size() < kMinSrtPassphrase || r.passphrase.size() > kMaxSrtPassphrase ||
         !isPrintableAscii(r.passphrase))) {
        return "passphrase must be empty or 10 to 79 printable ASCII characters";
    }
    // AES-128, AES-192 and AES-256, in bytes as SRT counts them.
    if (r.keyLength != 16 && r.keyLength != 24 && r.keyLength != 32) {
        return "keyLength must be 16, 24 or 32";
    }
    if (r.streamId.size() > kMaxSrtStreamId || !isPrintableAscii(r.streamId)) {
        return "streamId must have at most 512 printable ASCII characters";
    }
    return std::string();
}

std::string SettingsCheck::rtmpAddress(const std::string& a) {
    static const std::string kReason =
        "rtmpAddr must be empty, an IPv4 address, a host name or an rtmp:// or rtmps:// URL "
        "with a host and a path";
    if (a.empty() || comn::isValidIpv4(a) || isHostName(a)) {
        return std::string();
    }
    // RtmpStatusRecord's address field holds 1023 characters.
    if (a.size() > 1023 || !isPrintableAscii(a) || a.find(' ') != std::string::npos) {
        return kReason;
    }
    size_t authority = 0;
    if (a.compare(0, 7, "rtmp://") == 0) {
        authority = 7;
    } else if (a.compare(0, 8, "rtmps://") == 0) {
        authority = 8;
    } else {
        return kReason;
    }
    const size_t slash = a.find('/', authority);
    if (slash == std::string::npos || slash + 1 == a.size()) {
        return kReason;
    }
    std::string host = a.substr(authority, slash - authority);
    const size_t at = host.rfind('@');
    if (at != std::string::npos) {
        host.erase(0, at + 1);
    }
    const size_t colon = host.rfind(':');
    if (colon != std::string::npos) {
        const std::string port = host.substr(colon + 1);
        host.erase(colon);
        if (port.empty() || port.size() > 5 ||
            port.find_first_not_of("0123456789") != std::string::npos ||
            !isPort(std::atoi(port.c_str()))) {
            return kReason;
        }
    }
    return comn::isValidIpv4(host) || isHostName(host) ? std::string() : kReason;
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
