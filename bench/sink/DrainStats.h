#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

/// What the receivers of one run got: payload bytes per receiver (TS bytes: RTP headers and
/// HTTP chunk framing are not counted), and the first and last arrival on any fast receiver.
struct DrainStats {
    std::vector<uint64_t> bytes;         // per fast receiver
    std::vector<uint64_t> stalledBytes;  // per receiver that stopped reading on purpose
    uint64_t wireBytes = 0;              // everything read, framing included
    uint64_t kernelDrops = 0;            // datagrams the kernel dropped at our sockets
    uint64_t datagrams = 0;              // datagrams received, all sockets
    // Per receiver, printed only when filled: RTSP: RTP packets, and those its sequence
    // numbers say were sent from its first to its last one; HTTP-FLV: media tags; HLS:
    // segments fetched.
    std::vector<uint64_t> packets;
    std::vector<uint64_t> expectedPackets;
    std::string extra;  // more fields of one mode (",\"name\":value..."), printed as they are
    int64_t firstNs = 0;
    int64_t lastNs = 0;
    int closed = 0;  // stream receivers whose sender closed the connection
    int errors = 0;  // connections that failed or broke

    void arrived(size_t receiver, uint64_t payload, uint64_t wire, int64_t nowNs) {
        bytes[receiver] += payload;
        wireBytes += wire;
        if (firstNs == 0) {
            firstNs = nowNs;
        }
        lastNs = nowNs;
    }

    /// One JSON object on one line.
    void print(const char* kind, bool timedOut) const;
};

/// values as a JSON array.
std::string jsonList(const std::vector<uint64_t>& values);
