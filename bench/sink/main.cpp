// bench-sink: the receiving end of the casting benchmarks. Opens datagram receivers or stream
// clients on 127.0.0.1, drains everything that arrives and counts it, then prints one JSON
// line (see DrainStats). All receivers share one epoll loop on one thread.
//
//   bench-sink udp  --count N [--rtp] [--rcvbuf BYTES]      prints "ports P1 P2 ..." first
//                   [--poll-ms MS]  drain the sockets every MS instead of being woken by each
//                   datagram (a sender on this machine pays for its receivers' wake-ups)
//   bench-sink tcp  --connect HOST:PORT --count N [--stall K] prints "ready" once connected
//   bench-sink http --connect HOST:PORT --count N [--stall K] ... and the headers are in
//                   [--path /NAME.flv --flv]  the request's path; count the body's FLV tags
//   bench-sink hls  --connect HOST:PORT --count N --path /NAME.m3u8   HLS players (HlsDrain),
//                   "ready" once each had its first answer; after "finish" it ends once every
//                   player has polled again and fetched what that poll listed
//   bench-sink srt  --connect HOST:PORT --count N [--latency-ms MS]  prints "ready" once every
//                   SRT caller is connected (retrying until the listener answers)
//   bench-sink rtsp --connect HOST:PORT --count N [--transport udp|tcp] [--rcvbuf BYTES]
//                   prints "ready" once every client's PLAY was answered (RtspDrain)
//
// It ends when told "finish" on standard input (or standard input closes) and no byte has
// arrived for --quiet-ms, when every stream connection was closed by the sender, or after
// --timeout-s.
#include <sys/epoll.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "BenchArgs.h"
#include "BenchClock.h"
#include "DrainStats.h"
#include "HlsDrain.h"
#include "RtspDrain.h"
#include "SrtDrain.h"
#include "StreamDrain.h"
#include "UdpDrain.h"

namespace {

constexpr uint64_t kStdinTag = ~0ULL;

int usage(const std::string& why) {
    std::fprintf(stderr,
                 "bench-sink: %s\n"
                 "usage: bench-sink udp --count N [--rtp] [--rcvbuf BYTES]\n"
                 "       bench-sink tcp|http --connect HOST:PORT --count N [--stall K] "
                 "[--path P] [--flv]\n"
                 "       bench-sink hls --connect HOST:PORT --count N --path /NAME.m3u8\n"
                 "       bench-sink srt --connect HOST:PORT --count N [--latency-ms MS]\n"
                 "       bench-sink rtsp --connect HOST:PORT --count N [--transport udp|tcp]\n"
                 "       common: [--quiet-ms MS] [--timeout-s S]\n",
                 why.c_str());
    return 2;
}

void watch(int epollFd, int fd, uint64_t tag, unsigned events, int op) {
    epoll_event event{};
    event.events = events;
    event.data.u64 = tag;
    epoll_ctl(epollFd, op, fd, &event);
}

}  // namespace

int main(int argc, char** argv) {
    BenchArgs args(argc, argv, {"--rtp", "--flv"});
    if (!args.ok() || args.positional().size() != 1) {
        return usage(args.ok() ? "one mode: udp, tcp or http" : args.error());
    }
    const std::string mode = args.positional()[0];
    const int count = static_cast<int>(args.number("--count", 1, 1, 4096));
    const int stalled = static_cast<int>(args.number("--stall", 0, 0, 4096));
    const int64_t quietNs = args.number("--quiet-ms", 300, 1, 60000) * 1000000;
    const int64_t timeoutNs = args.number("--timeout-s", 900, 1, 86400) * 1000000000LL;
    // Deep enough for a whole clip, so loss means the sender lost it, not that we slept.
    const int receiveBuffer = static_cast<int>(args.number("--rcvbuf", 256 << 20, 4096, 1 << 30));
    const int latencyMs = static_cast<int>(args.number("--latency-ms", 120, 20, 8000));
    const int pollMs = static_cast<int>(args.number("--poll-ms", 0, 0, 1000));
    if (!args.ok()) {
        return usage(args.error());
    }

    DrainStats stats;
    UdpDrain udp;
    StreamDrain streams;
    HlsDrain hls;
    SrtDrain srt;
    RtspDrain rtsp;
    std::string error;
    const int epollFd = epoll_create1(EPOLL_CLOEXEC);
    bool isStream = false;
    bool isHls = false;
    bool isSrt = false;
    bool isRtsp = false;
    if (mode == "udp") {
        if (!udp.open(count, args.has("--rtp"), receiveBuffer, stats, error)) {
            return usage(error);
        }
        std::printf("ports");
        for (int port : udp.ports()) {
            std::printf(" %d", port);
        }
        std::printf("\n");
        std::fflush(stdout);
        for (size_t i = 0; i < udp.descriptors().size() && pollMs == 0; ++i) {
            watch(epollFd, udp.descriptors()[i], i, EPOLLIN, EPOLL_CTL_ADD);
        }
    } else if (mode == "tcp" || mode == "http") {
        std::string host;
        int port = 0;
        if (!splitHostPort(args.text("--connect"), host, port)) {
            return usage("--connect HOST:PORT is needed");
        }
        if (!streams.open(host, port, count, stalled, mode == "http", args.text("--path", "/"),
                          args.has("--flv"), stats, error)) {
            return usage(error);
        }
        for (size_t i = 0; i < streams.size(); ++i) {
            watch(epollFd, streams.descriptor(i), i, EPOLLOUT, EPOLL_CTL_ADD);
        }
        isStream = true;
    } else if (mode == "hls") {
        std::string host;
        int port = 0;
        if (!splitHostPort(args.text("--connect"), host, port) || !args.has("--path")) {
            return usage("--connect HOST:PORT and --path are needed");
        }
        if (!hls.open(host, port, args.text("--path"), count, stats, error)) {
            return usage(error);
        }
        for (size_t i = 0; i < hls.size(); ++i) {
            watch(epollFd, hls.descriptor(i), i, EPOLLOUT, EPOLL_CTL_ADD);
        }
        isHls = true;
    } else if (mode == "srt") {
        std::string host;
        int port = 0;
        if (!splitHostPort(args.text("--connect"), host, port)) {
            return usage("--connect HOST:PORT is needed");
        }
        if (!srt.open(host, port, count, latencyMs, 30, stats, error)) {
            return usage(error);
        }
        std::printf("ready\n");
        std::fflush(stdout);
        isSrt = true;
    } else if (mode == "rtsp") {
        std::string host;
        int port = 0;
        const std::string transport = args.text("--transport", "udp");
        if (!splitHostPort(args.text("--connect"), host, port) ||
            (transport != "udp" && transport != "tcp")) {
            return usage("--connect HOST:PORT and --transport udp|tcp are needed");
        }
        if (!rtsp.open(host, port, count, transport == "tcp", receiveBuffer, stats, error)) {
            return usage(error);
        }
        for (size_t i = 0; i < rtsp.descriptorCount(); ++i) {
            watch(epollFd, rtsp.descriptor(i), i, EPOLLIN, EPOLL_CTL_ADD);
        }
        isRtsp = true;
    } else {
        return usage("unknown mode " + mode);
    }
    watch(epollFd, STDIN_FILENO, kStdinTag, EPOLLIN, EPOLL_CTL_ADD);

    const int64_t started = monotonicNs();
    bool announced = false;
    bool finishing = false;
    int64_t finishNs = 0;
    bool timedOut = false;
    epoll_event events[256];
    for (;;) {
        // SRT sockets wait in libsrt's own epoll; standard input is then only looked at.
        if (isSrt) {
            srt.poll(20, stats);
        }
        const int n = epoll_wait(epollFd, events, 256, isSrt ? 0 : pollMs > 0 ? pollMs : 20);
        for (size_t i = 0; pollMs > 0 && i < udp.descriptors().size(); ++i) {
            udp.onReadable(i, stats);
        }
        for (int i = 0; i < n; ++i) {
            const uint64_t tag = events[i].data.u64;
            if (tag == kStdinTag) {
                char line[256];
                if (::read(STDIN_FILENO, line, sizeof line) <= 0) {
                    epoll_ctl(epollFd, EPOLL_CTL_DEL, STDIN_FILENO, nullptr);
                }
                finishNs = finishing ? finishNs : monotonicNs();
                finishing = true;  // "finish" or end of input: the same
            } else if (isRtsp) {
                if (!rtsp.onReadable(tag, stats)) {
                    epoll_ctl(epollFd, EPOLL_CTL_DEL, rtsp.descriptor(tag), nullptr);
                }
            } else if (isStream) {
                const unsigned wanted = streams.onEvent(tag, events[i].events, stats);
                watch(epollFd, streams.descriptor(tag), tag, wanted,
                      wanted == 0 ? EPOLL_CTL_DEL : EPOLL_CTL_MOD);
            } else if (isHls) {
                const unsigned wanted = hls.onEvent(tag, events[i].events, stats);
                watch(epollFd, hls.descriptor(tag), tag, wanted,
                      wanted == 0 ? EPOLL_CTL_DEL : EPOLL_CTL_MOD);
            } else {
                udp.onReadable(tag, stats);
            }
        }
        const int64_t now = monotonicNs();
        if (isHls) {
            hls.tick(now, stats);
        }
        if (!announced &&
            ((isStream && streams.ready()) || (isRtsp && rtsp.ready()) || (isHls && hls.ready()))) {
            std::printf("ready\n");
            std::fflush(stdout);
            announced = true;
        }
        if ((isStream && announced && streams.allClosed()) || (isSrt && srt.allClosed())) {
            break;
        }
        if (isHls ? finishing && hls.settled(finishNs)
                  : finishing && now - (stats.lastNs != 0 ? stats.lastNs : started) >= quietNs) {
            break;
        }
        if (now - started > timeoutNs) {
            timedOut = true;
            break;
        }
    }
    if (isRtsp) {
        rtsp.finish(stats);
    } else if (isStream) {
        streams.finish(stats);
    } else if (isHls) {
        hls.finish(stats);
    } else if (!isSrt) {
        udp.countDrops(stats);
    }
    stats.print(mode.c_str(), timedOut);
    ::close(epollFd);
    return 0;
}
