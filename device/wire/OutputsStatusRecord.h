#pragma once
// The outputs status (code 4880): the health of every output of one stream, sent by the media
// process once a second per stream. One update may not fit one datagram (the receiver reads
// at most 1400 bytes), so it travels as parts: each part is a header and up to
// kOutputsPerPart whole entries. All parts of one update carry the same sequence number; a
// reader shows an update only once it holds every part, so no output ever mixes two updates.
// Integers are little-endian; texts are zero-terminated and read with their array size as
// the bound. The header names its own size and the entry size, so both may grow at their
// end: a reader uses the fields it knows and skips the rest.

#include <cstddef>
#include <cstdint>

#include "MediaMessage.h"

namespace enc {

/// The layout version senders write; readers accept any version whose sizes cover the
/// fields they read.
constexpr uint16_t kOutputsStatusVersion = 1;

/// Values of OutputStatusEntry::state: libSluice's SLUICE_STATE_* numbers.
enum OutputState : int32_t {
    kOutputOff = 0,
    kOutputServing = 1,
    kOutputConnecting = 2,
    kOutputPublishing = 3,
    kOutputRetrying = 4,
    kOutputFailed = 5,  // could not start: a port that is taken, a codec it cannot carry
};

/// Bits of OutputStatusEntry::transportValid: libSluice's SLUICE_STATS_HAS_* bits.
enum OutputTransportBits : uint32_t {
    kOutputHasRtt = 1,
    kOutputHasLost = 2,
    kOutputHasRetransmitted = 4,
    kOutputHasLatency = 8,
};

#pragma pack(push, 1)
/// The start of every part (32 bytes).
struct OutputsStatusHeader {
    uint16_t version;          // kOutputsStatusVersion
    uint16_t headerSize;       // bytes of this header as the sender knows it
    uint16_t entrySize;        // bytes of each entry as the sender knows it
    uint8_t stream;            // 0 main, 1 sub
    uint8_t reserved0;         // 0
    uint32_t sequence;         // the update's number; rises by one per update of the stream
    uint8_t partIndex;         // 0 .. partCount - 1
    uint8_t partCount;         // parts of this update, at least 1
    uint8_t firstOutput;       // index in the update of this part's first entry
    uint8_t entryCount;        // entries in this part
    uint8_t outputCount;       // outputs in the whole update
    uint8_t reserved1[3];      // 0
    uint32_t encoderBitrate;   // the encoder's measured rate over the last second, bits/s
    uint32_t encoderFpsMilli;  // its measured frame rate, frames per 1000 s
    uint32_t reserved2;        // 0
};

/// One output (256 bytes).
struct OutputStatusEntry {
    int32_t protocol;         // SLUICE_PROTOCOL_* (1 UDP ... 6 RTSP, 7 RTMP, 8 HLS, 9 FLV)
    int32_t state;            // OutputState
    int32_t receivers;        // clients, sessions or connected targets now
    int32_t lastErrno;        // errno of the state's cause or of the last failed send
    int32_t localPort;        // the port it listens on; 0 when it does not
    int32_t rttUs;            // SRT: round-trip time (kOutputHasRtt)
    int32_t latencyMs;        // SRT: negotiated latency (kOutputHasLatency)
    uint32_t transportValid;  // OutputTransportBits
    uint64_t bytes;           // sent, summed over its destinations
    uint64_t packets;         // datagrams or blocks sent
    uint64_t drops;           // datagrams, blocks or frames never sent
    uint64_t jams;            // times a receiver fell too far behind
    uint64_t sendErrors;      // failed sends and broken connections
    uint64_t lost;            // SRT: packets the receivers reported lost
    uint64_t retransmitted;   // SRT: packets sent again
    uint64_t reconnects;      // pushes: connections made again after one was lost
    char address[64];         // the listener ("0.0.0.0:8081", "rtsp :8554/main") or target
    char stateText[96];       // the reason of the state or the last error; "" when none
};
#pragma pack(pop)

static_assert(sizeof(OutputsStatusHeader) == 32, "outputs status header is 32 bytes");
static_assert(offsetof(OutputsStatusHeader, sequence) == 8, "sequence at 8");
static_assert(offsetof(OutputsStatusHeader, partIndex) == 12, "partIndex at 12");
static_assert(offsetof(OutputsStatusHeader, outputCount) == 16, "outputCount at 16");
static_assert(offsetof(OutputsStatusHeader, encoderBitrate) == 20, "encoderBitrate at 20");
static_assert(sizeof(OutputStatusEntry) == 256, "output status entry is 256 bytes");
static_assert(offsetof(OutputStatusEntry, bytes) == 32, "bytes at 32");
static_assert(offsetof(OutputStatusEntry, address) == 96, "address at 96");
static_assert(offsetof(OutputStatusEntry, stateText) == 160, "stateText at 160");

/// Entries per part: as many as fit a received datagram beside both headers.
constexpr size_t kOutputsPerPart =
    (kMediaReceiveBufferSize - kMediaHeaderSize - sizeof(OutputsStatusHeader)) /
    sizeof(OutputStatusEntry);
static_assert(kOutputsPerPart == 5, "five outputs per datagram");
/// Outputs one update may hold (outputCount is a byte; a stream has far fewer).
constexpr size_t kMaxOutputsPerUpdate = 64;

}  // namespace enc
