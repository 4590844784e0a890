#pragma once
// Which casters a stream's publishing settings ask for, and which of them may run here.

#include <cstdint>
#include <string>
#include <vector>

#include "EncoderRecords.h"

namespace ksim {

/// One sluice_set_option call. The value may be a secret (a passphrase): logs name the
/// option only.
struct CasterOption {
    std::string name;
    std::string value;

    bool operator==(const CasterOption& o) const { return name == o.name && value == o.value; }
};

/// One caster to open through libSluice.
struct CasterPlan {
    int protocol = 0;   // SLUICE_PROTOCOL_UDP, _HTTP, _SRT, _RTSP, _RTMP (no target: its URL),
                        // _HLS or _FLV
    int localPort = 0;  // HTTP, RTSP, SRT listener: the listening port (0: any); UDP, SRT caller: 0
    std::string host;   // UDP, SRT caller: the target address; otherwise empty
    int port = 0;       // UDP, SRT caller: the target port
    std::string label;  // "HTTP-TS on port 8081", "UDP TS to 127.0.0.1:20000", ...
    /// HTTP-TS and the SRT listener listen; every other caster sends to its target.
    bool listens() const { return host.empty(); }
    /// Set in this order right after sluice_open, before any target or frame.
    std::vector<CasterOption> options;

    bool operator==(const CasterPlan& o) const {
        return protocol == o.protocol && localPort == o.localPort && host == o.host &&
               port == o.port && options == o.options;
    }
};

struct OutputPlan {
    std::vector<CasterPlan> casters;
    std::vector<std::string> skipped;  // one line per output left out, with the reason
};

/// The casters of one stream, in this order: HTTP-TS on tsHttpPort when tsHttpEnabled, UDP
/// TS to tsAddr:tsPort when tsEnabled, multicast to multicastAddr:multicastPort when
/// multicastEnabled. HTTP-TS on port 0 listens on a port of the system's choice (the
/// "casting" line shows it). An output with a port outside 1-65535 (0-65535 for a listener)
/// or an empty address is skipped;
/// so is one whose address is not loopback, unless allowNetwork.
OutputPlan planOutputs(const enc::ProtocolSettings& protocol, bool allowNetwork);

/// The same, followed by the stream's SRT output when srt.enabled: mode "listener" listens on
/// srt.port (every interface, 0 any port, as HTTP-TS does); mode "caller" calls
/// srt.callerAddr:callerPort, which must be loopback unless allowNetwork. Options: "latency", then
/// "passphrase" when one is set, "pbkeylen", then "streamid" when one is set. A bad port, an empty
/// address or an unknown mode skips the output with a reason; option values are left to the
/// library.
OutputPlan planOutputs(const enc::ProtocolSettings& protocol, const enc::SrtSettings& srt,
                       bool allowNetwork);

/// Adds the stream's RTSP server when protocol.rtspEnabled: on rtspPort, option "path"
/// rtspName (a "/" is put in front when it lacks one; empty serves "/"), then "auth_file"
/// passwordFile when that is not empty (digest authentication with the web credentials).
/// A port outside 1-65535 skips it with a reason.
void planRtsp(OutputPlan& plan, const enc::ProtocolSettings& protocol,
              const std::string& passwordFile);

/// Constant bit rate ("bitmode" 0): every caster of the plan that sends the transport
/// stream as it is (UDP, RTP, TCP, HTTP, SRT) gets the option "muxrate" first, muxRate(videoKbps,
/// audioBps) bits per second, so the stream leaves at a constant rate as broadcast receivers
/// expect.
void planMuxRate(OutputPlan& plan, int videoKbps, int audioBps);

/// The transport rate for a constant-rate stream: video plus audio plus the multiplexing
/// overhead: 10 % for TS and PES headers and the encoder's short peaks above its rate
/// (within its buffer), and 100 kbit/s for PAT/PMT every 50 ms, SDT and PCR packets.
int64_t muxRate(int videoKbps, int audioBps);

/// Adds the stream's RTMP push when protocol.rtmpEnabled is nonzero: to rtmpAddr as it is
/// when it begins with "rtmp://" or "rtmps://", else to rtmp://rtmpAddr:rtmpPort/rtmpDir/
/// rtmpNode; rtmpUser and rtmpPassword become the URL's user information when it has none.
/// One option, "url" (a secret: logs name it only); host and port are the server's, for the
/// label, which shows the URL without user information. A server that is not loopback is
/// skipped unless allowNetwork; so is an address that names no server.
constexpr const char* kRtmpLabel = "RTMP push to ";
void planRtmp(OutputPlan& plan, const enc::ProtocolSettings& protocol, bool allowNetwork);
/// Adds the stream's HLS output when protocol.hlsEnabled (port hlsPort, option "path" hlsAddr)
/// and its HTTP-FLV output when flvEnabled (flvPort, flvAddr): served as
/// http://device:port/NAME.m3u8 and /NAME.flv, NAME being defaultName when the setting is
/// empty. Both may share a port with each other and with the other stream's. A port outside
/// 0-65535 (0: one of the system's choice) skips the output with a reason.
void planHttpOutputs(OutputPlan& plan, const enc::ProtocolSettings& protocol,
                     const std::string& defaultName);

/// True for a dotted IPv4 address in 127.0.0.0/8 and for "localhost". Everything else
/// (other addresses, multicast groups, host names) could leave the machine.
bool isLoopback(const std::string& host);

}  // namespace ksim
