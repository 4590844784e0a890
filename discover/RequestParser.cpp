#include "RequestParser.h"

#include <algorithm>
#include <cstring>

namespace discover {

RequestParser::SetIp RequestParser::parseSetIp(const DiscoveryPacket& request) {
    SetIpRequest raw;
    std::memcpy(&raw, request.payload, sizeof raw);
    SetIp fields;
    fields.origIp = fieldText(raw.origIp);
    fields.newIp = fieldText(raw.newIp);
    fields.mask = fieldText(raw.mask);
    fields.gate = fieldText(raw.gate);
    fields.dns = fieldText(raw.dns);
    fields.dhcp = raw.dhcp;
    return fields;
}

bool RequestParser::isPlainUid(const std::string& text) {
    // A leading '-' would make the UID an option of the board tool ("--help").
    if (text.empty() || text.size() > kMaxUidLength || text[0] == '-') {
        return false;
    }
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.';
    });
}

}  // namespace discover
