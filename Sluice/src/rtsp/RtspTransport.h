#pragma once

#include <string>

namespace av {

/// The transport a client asked for in SETUP, as far as this server serves it: RTP/AVP over
/// UDP (unicast with the client's ports, or multicast) or interleaved on the RTSP
/// connection (RTP/AVP/TCP). Plain record.
struct RtspTransport {
    enum class Kind { UdpUnicast, UdpMulticast, TcpInterleaved };
    Kind kind = Kind::UdpUnicast;
    int clientRtpPort = 0;  // UDP unicast: the client's RTP port (RTCP is the next one)
    int clientRtcpPort = 0;
    int rtpChannel = -1;  // TCP: the interleaved channels; -1 = the server picks
    int rtcpChannel = -1;

    /// Picks the first transport alternative of a Transport header (a comma-separated list
    /// of alternatives) that this server can serve. False when none is: no RTP/AVP profile,
    /// a "mode" other than PLAY, a unicast UDP request without a valid client_port, or
    /// malformed numbers.
    static bool parse(const std::string& header, RtspTransport& out);
};

/// A decimal number of at most seven digits in [low, high], nothing else (no sign, no
/// spaces): the numbers of Transport headers and of the RTSP caster's options.
bool rtspNumber(const std::string& text, int low, int high, int& out);

}  // namespace av
