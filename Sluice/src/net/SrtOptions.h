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
    /// maxBandwidth while "maxbw" was never set: the sender paces a variable stream itself
    /// (SendPace), and libsrt only caps each link at kCeilingBandwidth. libsrt's own pacing
    /// near the stream's rate times every packet of every link apart, which cost half as much
    /// CPU again as the stream itself with 8 callers. A constant-rate stream keeps libsrt's
    /// cap at its known rate (SRTO_INPUTBW).
    static constexpr int64_t kSenderPaces = -2;
    /// libsrt's cap per link under the sender's pace, in bytes/s (100 Mbit/s): far above any
    /// stream of the device, so libsrt never spreads the sender's blocks again, yet
    /// retransmissions and a sender catching up never leave at line rate.
    static constexpr int64_t kCeilingBandwidth = 12'500'000;

    int latencyMs = kDefaultLatencyMs;    // 20..8000
    std::string passphrase;               // empty: no encryption; else 10..79 characters
    int keyLength = 0;                    // 0 (AES-128 when a passphrase is set), 16, 24, 32
    std::string streamId;                 // sent by caller connections; up to 512 characters
    int64_t maxBandwidth = kSenderPaces;  // bytes/s; 0 input rate + 25 %, -1 unlimited
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
    /// Whether the sender paces the stream's blocks itself: "maxbw" never set and the stream
    /// variable (a constant-rate stream is paced by its byte clock in any case).
    bool senderPaces() const { return maxBandwidth == kSenderPaces && inputBandwidth == 0; }
    /// libsrt's pacing: maxBandwidth, or with 0 the input rate (inputBandwidth, or measured)
    /// plus libsrt's overhead (25 %); unset, kCeilingBandwidth (a constant-rate stream: its
    /// rate plus 25 %); also on a connected socket.
    bool applyBandwidth(SRTSOCKET socket) const;

    /// Whether two option sets protect a link the same way (passphrase and key length).
    bool sameSecurity(const SrtOptions& other) const {
        return passphrase == other.passphrase && keyLength == other.keyLength;
    }
};

}  // namespace av
