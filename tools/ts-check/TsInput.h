#pragma once

#include <cstdint>
#include <functional>
#include <string>

/// Where ts-check reads from, and how long it listens on the network.
struct InputOptions {
    std::string source;  // file, "-" (stdin), udp://HOST:PORT, rtp://HOST:PORT, http://...
    // Limits of every input that can stall (network, a pipe on stdin; not a file), whether
    // it is silent from the start or stops halfway:
    double durationS = 0;  // stop after this long (0: no limit)
    double idleS = 2;      // stop after this long without data, once data came
    double waitS = 10;     // give up when nothing arrives this long at first
};

/// Reads the input and hands on its transport-stream bytes. For udp:// and rtp:// each
/// datagram's payload (RTP header removed) comes with its kernel arrival time and, for RTP,
/// the count of datagrams lost before it by sequence number.
class TsInput {
public:
    using Bytes = std::function<void(const uint8_t* data, size_t size)>;
    using Datagram =
        std::function<void(const uint8_t* data, size_t size, int64_t arrivalNs, uint64_t lost)>;

    /// True when the source names a datagram input.
    static bool isDatagram(const std::string& source);
    /// Reads everything; false with a message in error when the input cannot be opened.
    static bool read(const InputOptions& options, const Bytes& bytes, const Datagram& datagram,
                     std::string& error);

private:
    static bool readStream(const InputOptions& options, const Bytes& bytes, std::string& error);
    static bool readUrl(const InputOptions& options, const Bytes& bytes, std::string& error);
    static bool readDatagrams(const InputOptions& options, bool rtp, const Datagram& datagram,
                              std::string& error);
};
