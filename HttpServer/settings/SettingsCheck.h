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
    /// The security switches: each within the Allowed range of its descriptor row.
    static std::string security(const SecuritySettings& record);
    /// A stream's SRT output: enabled 0 or 1; mode "listener" or "caller"; port 1 to 65535;
    /// callerAddr an IPv4 address or host name and callerPort 1 to 65535, both required only
    /// for an enabled caller (else empty and 0 are allowed); latency 20 to 8000 ms; passphrase
    /// empty or 10 to 79 printable ASCII characters; keyLength 16, 24 or 32; streamId up to 512
    /// printable ASCII characters. The reason never quotes the passphrase.
    static std::string srt(const SrtSettings& record);
    /// A stream's RTMP server (rtmpAddr): empty, an IPv4 address or host name, or a URL
    /// "rtmp://" or "rtmps://" [user[:password]@] host [:port] "/" path, at most 1023
    /// printable ASCII characters without spaces. The reason never quotes the address (it may
    /// hold a password).
    static std::string rtmpAddress(const std::string& address);

    /// Six groups of two hexadecimal digits separated by ':' ("44:03:2c:56:79:40").
    static bool isMacAddress(std::string_view text);
    static bool isEssid(std::string_view text);
    static bool isWpaKey(std::string_view text);
    /// A DNS host name: 1 to 253 characters in dot-separated labels of 1 to 63 letters, digits
    /// and '-', no label beginning or ending with '-', the last label not all digits (that
    /// would be a broken IPv4 address).
    static bool isHostName(std::string_view text);

    /// The reply document for a refusal: {"error":"<reason>"} with the reason quoted.
    static std::string errorDocument(std::string_view reason);

    /// For the device operations: false for an empty reason; otherwise sets response to the
    /// reason's error document and returns true (the operation then answers -1).
    static bool refused(const std::string& reason, std::string& response);
};

}  // namespace enc
