#pragma once

#include <string>
#include <string_view>

#include "EncoderRecords.h"

namespace enc {

/// The rules for settings whose texts end in files other programs parse: the Wi-Fi client
/// configuration (wpa_passphrase's output, the open-network template), resolv.conf, the
/// settings file itself. The device handler checks a request before it stores anything.
///
/// Each check returns "" when the record may be stored, otherwise one sentence for people
/// naming the first field that broke its rule. Stateless; safe from any thread.
class SettingsCheck {
public:
    virtual ~SettingsCheck() = default;

    /// ip, mask, gate and dnsFirst complete dotted quads (comn::isValidIpv4); dnsSecond and
    /// mac empty (not given) or a dotted quad and a MAC address.
    static std::string network(const NetworkSettings& record);
    /// essid 1 to 32 bytes without control characters or '"'; with encryption the key is 8
    /// to 63 printable ASCII characters without '"' (WPA's passphrase rule), without it the
    /// key is unused but may hold neither; ip, mask and gate empty or dotted quads.
    static std::string wifi(const WifiSettings& record);
    /// The security flags: 0 or 1 each.
    static std::string security(const SecuritySettings& record);

    /// Six groups of two hexadecimal digits separated by ':' ("44:03:2c:56:79:40").
    static bool isMacAddress(std::string_view text);
    static bool isEssid(std::string_view text);
    static bool isWpaKey(std::string_view text);

    /// The reply document for a refusal: {"error":"<reason>"} with the reason quoted.
    static std::string errorDocument(std::string_view reason);

    /// For the device operations: false for an empty reason; otherwise sets response to the
    /// reason's error document and returns true (the operation then answers -1).
    static bool refused(const std::string& reason, std::string& response);
};

}  // namespace enc
