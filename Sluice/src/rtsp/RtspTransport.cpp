#include "RtspTransport.h"

#include <strings.h>

#include <cstdlib>
#include <vector>

namespace av {

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::string trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) {
        return std::string();
    }
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// "a-b" or "a" (then b = a + 1).
bool range(const std::string& text, int low, int high, int& first, int& second) {
    const size_t dash = text.find('-');
    if (dash == std::string::npos) {
        if (!rtspNumber(text, low, high - 1, first)) {
            return false;
        }
        second = first + 1;
        return true;
    }
    return rtspNumber(text.substr(0, dash), low, high, first) &&
           rtspNumber(text.substr(dash + 1), low, high, second);
}

bool parseOne(const std::string& alternative, RtspTransport& out) {
    const std::vector<std::string> fields = split(alternative, ';');
    const std::string profile = trim(fields[0]);
    RtspTransport parsed;
    bool tcp = false;
    if (strcasecmp(profile.c_str(), "RTP/AVP/TCP") == 0) {
        tcp = true;
    } else if (strcasecmp(profile.c_str(), "RTP/AVP") != 0 &&
               strcasecmp(profile.c_str(), "RTP/AVP/UDP") != 0) {
        return false;
    }
    bool multicast = false;
    bool havePorts = false;
    for (size_t i = 1; i < fields.size(); ++i) {
        const std::string field = trim(fields[i]);
        const size_t equals = field.find('=');
        const std::string name = trim(field.substr(0, equals));
        std::string value =
            equals == std::string::npos ? std::string() : trim(field.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (strcasecmp(name.c_str(), "multicast") == 0) {
            multicast = true;
        } else if (strcasecmp(name.c_str(), "unicast") == 0) {
            multicast = false;
        } else if (strcasecmp(name.c_str(), "client_port") == 0) {
            if (!range(value, 1, 65535, parsed.clientRtpPort, parsed.clientRtcpPort)) {
                return false;
            }
            havePorts = true;
        } else if (strcasecmp(name.c_str(), "interleaved") == 0) {
            if (!range(value, 0, 255, parsed.rtpChannel, parsed.rtcpChannel)) {
                return false;
            }
        } else if (strcasecmp(name.c_str(), "mode") == 0) {
            if (strcasecmp(value.c_str(), "PLAY") != 0) {
                return false;  // this server only sends
            }
        }
        // Anything else (ttl, ssrc, destination, port, layers, append) is ours to choose or
        // not ours to honour: a client must not steer our packets to a third host.
    }
    if (tcp) {
        parsed.kind = RtspTransport::Kind::TcpInterleaved;
    } else if (multicast) {
        parsed.kind = RtspTransport::Kind::UdpMulticast;
    } else {
        if (!havePorts) {
            return false;
        }
        parsed.kind = RtspTransport::Kind::UdpUnicast;
    }
    out = parsed;
    return true;
}

}  // namespace

bool rtspNumber(const std::string& text, int low, int high, int& out) {
    if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < low || value > high) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

bool RtspTransport::parse(const std::string& header, RtspTransport& out) {
    if (header.size() > 4096) {
        return false;
    }
    for (const std::string& alternative : split(header, ',')) {
        if (parseOne(alternative, out)) {
            return true;
        }
    }
    return false;
}

}  // namespace av
