#pragma once

#include <srt/srt.h>

#include <cstdint>
#include <string>

namespace av {

/// The settings of an SRT cast that sluice_set_option changes, with their validation and the
/// way they go onto a libsrt socket. Plain value; the owner guards it.
struct SrtOptions {
    static constexpr int kDefaultLatencyMs = 120;
    /// Callers of the listener at a time. Each costs libsrt about a megabyte of buffers
    /// (its send buffer holds the latency's worth of stream and more) and a share of its
    /// threads' time: 32 bound the caster to some tens of megabytes.
    static constexpr int kDefaultMaxCallers = 32;
    /// Callers one address may hold: a quarter of the default, so one host cannot take the
    /// slots of every other viewer.
    static constexpr int kDefaultMaxCallersPerAddress = 8;
    /// The most either limit may be set to.
    static constexpr int kMaxCallersOption = 256;
    /// maxBandwidth while "maxbw" was never set: libsrt caps each link of a variable stream
    /// at kDefaultCeiling; a constant-rate stream's at its known rate plus 25 % (SRTO_INPUTBW).
    static constexpr int64_t kNotSet = -2;
    /// The default cap per link of a variable stream, in bytes/s (200 Mbit/s): far above any
    /// stream of the device, yet a key frame, retransmissions and a link catching up leave
    /// spread out rather than at a gigabit link's line rate. A cap near the stream's rate (maxbw 0:
    /// libsrt measures it) times every packet of every link apart on libsrt's sending thread, which
    /// cost 1.2-1.6x GStreamer's srtsink in CPU per GB with 8 callers; at this cap a frame's
    /// packets go out in few wake-ups, at srtsink's cost (which sends unlimited). 100 Mbit/s
    /// was measured at about 1.02x srtsink, 200 at 0.93x, unlimited at 0.94x.
    static constexpr int64_t kDefaultCeiling = 25'000'000;

    int latencyMs = kDefaultLatencyMs;  // 20..8000
    std::string passphrase;             // empty: no encryption; else 10..79 characters
    int keyLength = 0;                  // 0 (AES-128 when a passphrase is set), 16, 24, 32
    std::string streamId;               // sent by caller connections; up to 512 characters
    int64_t maxBandwidth = kNotSet;     // bytes/s; 0 input rate + 25 %, -1 unlimited
    /// A constant-rate stream's rate in bytes/s (not an option of its own: the mux rate); 0
    /// for a variable stream, whose input rate libsrt measures.
    int64_t inputBandwidth = 0;
    int maxCallers = kDefaultMaxCallers;                      // "maxclients", 1..kMaxCallersOption
    int maxCallersPerAddress = kDefaultMaxCallersPerAddress;  // "maxperaddress", likewise

    /// Sets one option from its text. 0, or EINVAL for an unknown name or a bad value (the
    /// options then stay as they were).
    int set(const std::string& name, const std::string& value);

    /// Live mode with non-blocking sending, connecting and accepting, on a socket not yet
    /// bound (a caller's or a listener's; an accepted socket inherits them). False when
    /// libsrt refuses one.
    static bool applyBase(SRTSOCKET socket);
    /// The options on a socket not yet connected: a caller's, or one a listener is accepting
    /// (from its listen callback). The stream ID only for callers: a listener takes its
    /// caller's. False when libsrt refuses one of them.
    bool applyTo(SRTSOCKET socket, bool caller) const;
    /// libsrt's pacing: maxBandwidth, or with 0 the input rate (inputBandwidth, or measured)
    /// plus libsrt's overhead (25 %); not set, kDefaultCeiling (a constant-rate stream: its
    /// rate plus 25 %); also on a connected socket.
    bool applyBandwidth(SRTSOCKET socket) const;

    /// Whether two option sets protect a link the same way (passphrase and key length).
    bool sameSecurity(const SrtOptions& other) const {
        return passphrase == other.passphrase && keyLength == other.keyLength;
    }
};

}  // namespace av
