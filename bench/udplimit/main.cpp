// bench-udp-limit: what the kernel allows on this machine. Sends a transport stream file,
// cut into 1316-byte datagrams (seven TS packets, as the casters send them), to every target
// in turn with nothing else in the way: no multiplexing and no pause.
//
//   bench-udp-limit --mode sendto|sendmmsg|gso --target H:P ... | --targets-file F   FILE.ts
//   bench-udp-limit --pause-probe [--count N]
//
// The first prints one JSON line with start_ns and end_ns (CLOCK_MONOTONIC around the
// sends), datagrams and failed sends. --pause-probe measures the pause the UDP caster takes
// before every fifth send of a block: select() on the socket's exceptional set with a 1 ms
// time-out, as the caster does; it prints the mean pause in microseconds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "BenchArgs.h"
#include "BenchClock.h"

namespace {

// Seven 188-byte TS packets: one datagram without IP fragmentation.
constexpr size_t kDatagramBytes = 1316;
// Messages per sendmmsg call (the kernel caps one call at UIO_MAXIOV, 1024).
constexpr size_t kBatch = 1024;
// Datagrams per message with segmentation offload.
constexpr size_t kSegments = 4;

// The UDP_SEGMENT control message: the size of every datagram the kernel cuts the message
// into (the last one may be shorter).
struct SegmentControl {
    alignas(cmsghdr) char buffer[CMSG_SPACE(sizeof(uint16_t))] = {};
    void set(size_t segmentSize) {
        cmsghdr* header = reinterpret_cast<cmsghdr*>(buffer);
        header->cmsg_level = SOL_UDP;
        header->cmsg_type = UDP_SEGMENT;
        header->cmsg_len = CMSG_LEN(sizeof(uint16_t));
        const uint16_t size = static_cast<uint16_t>(segmentSize);
        std::memcpy(CMSG_DATA(header), &size, sizeof size);
    }
};
// The casters' send buffer size, so the socket behaves as theirs does.
constexpr int kSendBuffer = 2 * 1024 * 1024;

int usage(const std::string& why) {
    std::fprintf(stderr,
                 "bench-udp-limit: %s\n"
                 "usage: bench-udp-limit --mode sendto|sendmmsg|gso --target H:P ... FILE.ts\n"
                 "       bench-udp-limit --pause-probe [--count N]\n",
                 why.c_str());
    return 2;
}

int openSocket() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);
    }
    return fd;
}

int pauseProbe(int count) {
    const int fd = openSocket();
    const int64_t start = monotonicNs();
    for (int i = 0; i < count; ++i) {
        fd_set exceptional;
        FD_ZERO(&exceptional);
        FD_SET(fd, &exceptional);
        timeval timeout{0, 1000};
        ::select(fd + 1, nullptr, nullptr, &exceptional, &timeout);
    }
    const double meanUs = static_cast<double>(monotonicNs() - start) / 1000.0 / count;
    ::close(fd);
    std::printf("{\"pause_us\":%.1f,\"count\":%d}\n", meanUs, count);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    BenchArgs args(argc, argv, {"--pause-probe"});
    if (!args.ok()) {
        return usage(args.error());
    }
    if (args.has("--pause-probe")) {
        return pauseProbe(static_cast<int>(args.number("--count", 1000, 1, 1000000)));
    }
    const std::string mode = args.text("--mode", "sendto");
    std::vector<std::string> targetTexts = args.all("--target");
    if (args.has("--targets-file") && !readTargetFile(args.text("--targets-file"), targetTexts)) {
        return usage("cannot read " + args.text("--targets-file"));
    }
    if ((mode != "sendto" && mode != "sendmmsg" && mode != "gso") ||
        args.positional().size() != 1 || targetTexts.empty()) {
        return usage("a mode, targets and one FILE are needed");
    }
    std::vector<sockaddr_in> targets;
    for (const std::string& text : targetTexts) {
        std::string host;
        int port = 0;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        if (!splitHostPort(text, host, port) ||
            ::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
            return usage("bad target " + text);
        }
        addr.sin_port = htons(static_cast<uint16_t>(port));
        targets.push_back(addr);
    }
    std::ifstream in(args.positional()[0], std::ios::binary | std::ios::ate);
    std::vector<char> stream(in ? static_cast<size_t>(in.tellg()) : 0);
    in.seekg(0);
    in.read(stream.data(), static_cast<std::streamsize>(stream.size()));
    if (stream.empty()) {
        return usage("cannot read " + args.positional()[0]);
    }

    const int fd = openSocket();
    long datagrams = 0;
    long failed = 0;
    const int64_t start = monotonicNs();
    if (mode == "sendto") {
        for (size_t offset = 0; offset < stream.size(); offset += kDatagramBytes) {
            const size_t size = std::min(kDatagramBytes, stream.size() - offset);
            for (const sockaddr_in& target : targets) {
                const ssize_t sent =
                    ::sendto(fd, stream.data() + offset, size, 0,
                             reinterpret_cast<const sockaddr*>(&target), sizeof target);
                ++datagrams;
                failed += sent == static_cast<ssize_t>(size) ? 0 : 1;
            }
        }
    } else {
        // gso: each message carries up to kSegments consecutive datagrams for one target,
        // cut by the kernel (UDP_SEGMENT); sendmmsg: one datagram per message.
        const size_t segments = mode == "gso" ? kSegments : 1;
        std::vector<mmsghdr> messages(kBatch);
        std::vector<iovec> vectors(kBatch);
        std::vector<SegmentControl> controls(kBatch);
        size_t used = 0;
        auto flush = [&] {
            size_t done = 0;
            while (done < used) {
                const int n =
                    ::sendmmsg(fd, messages.data() + done, static_cast<unsigned>(used - done), 0);
                if (n <= 0) {
                    failed += static_cast<long>(used - done);
                    break;
                }
                done += static_cast<size_t>(n);
            }
            used = 0;
        };
        const size_t step = kDatagramBytes * segments;
        for (size_t offset = 0; offset < stream.size(); offset += step) {
            const size_t size = std::min(step, stream.size() - offset);
            const long count = static_cast<long>((size + kDatagramBytes - 1) / kDatagramBytes);
            for (sockaddr_in& target : targets) {
                vectors[used] = {const_cast<char*>(stream.data() + offset), size};
                messages[used] = {};
                messages[used].msg_hdr.msg_name = &target;
                messages[used].msg_hdr.msg_namelen = sizeof target;
                messages[used].msg_hdr.msg_iov = &vectors[used];
                messages[used].msg_hdr.msg_iovlen = 1;
                if (count > 1) {
                    controls[used].set(kDatagramBytes);
                    messages[used].msg_hdr.msg_control = controls[used].buffer;
                    messages[used].msg_hdr.msg_controllen = sizeof controls[used].buffer;
                }
                datagrams += count;
                if (++used == kBatch) {
                    flush();
                }
            }
        }
        flush();
    }
    const int64_t end = monotonicNs();
    ::close(fd);
    std::printf("{\"start_ns\":%lld,\"end_ns\":%lld,\"datagrams\":%ld,\"failed\":%ld}\n",
                static_cast<long long>(start), static_cast<long long>(end), datagrams, failed);
    return 0;
}
