// bench-gst: the GStreamer peer for the stream benchmarks. Runs
//   filesrc ! qtdemux ! h264parse / aacparse ! mpegtsmux alignment=7 ! multisocketsink sync=false
// (with --flv: flvmux streamable=true instead of mpegtsmux)
// and holds it prerolled until every client is connected, which gst-launch cannot do, so that
// every client gets the whole stream as libSluice's clients do. multisocketsink is the element
// tcpserversink is made of, without its listener: tcpserversink listens with GLib's default
// backlog of 10 and loses part of a burst of 100 connects, so the clients are accepted here
// (backlog 1024) and handed to the sink, whose sending is exactly tcpserversink's.
//
//   bench-gst --clients N [--hold] [--realtime] [--srt | --flv] INPUT.mp4
//
// --flv serves HTTP-FLV: each client's request head is read and answered with a response head
// ("200 OK", video/x-flv) before the socket goes to the sink, which then sends the FLV stream
// header flvmux announces (header, metadata, sequence headers) and the tags.
// --srt sends through srtsink as an SRT listener instead (live mode, every caller gets every
// buffer), held prerolled until its "caller-added" signal has counted N callers.
// --realtime lets the sink follow the pipeline clock (sync=true): the stream goes out at its
// own pace instead of as fast as possible.
// Prints "listening PORT", accepts N clients (SRT: after "go") and waits for "go" on standard
// input; with --hold prints "written" at the end of the stream and keeps the clients until
// standard input gives a line or ends. Last line: JSON with start_ns and end_ns (CLOCK_MONOTONIC).
#include <gio/gio.h>
#include <gst/gst.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <set>
#include <string>
#include <thread>

#include "BenchArgs.h"
#include "BenchClock.h"
#include "OwnPorts.h"

namespace {

constexpr int kClientWaitMs = 30000;
constexpr int kBacklog = 1024;
constexpr GstClockTime kPrerollTimeout = 30 * GST_SECOND;
constexpr size_t kMaxRequestBytes = 8192;
constexpr char kFlvResponse[] =
    "HTTP/1.1 200 OK\r\nContent-Type: video/x-flv\r\nCache-Control: no-cache\r\n"
    "Connection: close\r\n\r\n";

int usage(const std::string& why) {
    std::fprintf(stderr,
                 "bench-gst: %s\nusage: bench-gst --clients N [--hold] [--realtime] "
                 "[--srt | --flv] INPUT.mp4\n",
                 why.c_str());
    return 2;
}

bool waitForLine() {
    std::string line;
    return static_cast<bool>(std::getline(std::cin, line));
}

// A listening socket on 127.0.0.1 and a port of the kernel's choice; -1 on failure.
int listenLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, kBacklog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

std::atomic<int> g_srtCallers{0};

void onCallerAdded(GstElement*, gint, GSocketAddress*, gpointer) {
    ++g_srtCallers;
}

bool waitForSrtCallers(int count) {
    for (int waited = 0; waited < kClientWaitMs && g_srtCallers < count; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return g_srtCallers >= count;
}

// Reads an HTTP request head from a new client and answers it with the FLV response head.
bool answerHttp(int fd) {
    std::string head;
    char buffer[1024];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxRequestBytes) {
        pollfd waiting{fd, POLLIN, 0};
        const ssize_t n =
            ::poll(&waiting, 1, kClientWaitMs) == 1 ? ::recv(fd, buffer, sizeof buffer, 0) : -1;
        if (n <= 0) {
            return false;
        }
        head.append(buffer, static_cast<size_t>(n));
    }
    const size_t length = sizeof kFlvResponse - 1;
    return ::send(fd, kFlvResponse, length, MSG_NOSIGNAL) == static_cast<ssize_t>(length);
}

// Accepts count clients and hands each to the sink (which then owns the socket).
bool addClients(int listener, int count, bool http, GstElement* sink) {
    for (int i = 0; i < count; ++i) {
        pollfd waiting{listener, POLLIN, 0};
        if (::poll(&waiting, 1, kClientWaitMs) != 1) {
            return false;
        }
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (http && fd >= 0 && !answerHttp(fd)) {
            ::close(fd);
            return false;
        }
        GSocket* socket = fd >= 0 ? g_socket_new_from_fd(fd, nullptr) : nullptr;
        if (socket == nullptr) {
            return false;
        }
        g_signal_emit_by_name(sink, "add", socket);
        g_object_unref(socket);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    BenchArgs args(argc, argv, {"--hold", "--realtime", "--srt", "--flv"});
    const bool srt = args.has("--srt");
    const bool flv = args.has("--flv");
    const int clients = static_cast<int>(args.number("--clients", 1, 1, 4096));
    if (!args.ok() || args.positional().size() != 1) {
        return usage(args.ok() ? "one INPUT is needed" : args.error());
    }
    gchar* location = g_strescape(args.positional()[0].c_str(), nullptr);
    std::string description =
        std::string("filesrc location=\"") + location +
        "\" ! qtdemux name=d d.video_0 ! queue ! h264parse ! mux. d.audio_0 ! queue ! aacparse "
        "! mux. " +
        (flv ? "flvmux name=mux streamable=true" : "mpegtsmux name=mux alignment=7") +
        " ! multisocketsink name=out sync=" + (args.has("--realtime") ? "true" : "false");
    g_free(location);
    if (srt) {
        const size_t at = description.find("multisocketsink");
        description.replace(at, std::string("multisocketsink").size(),
                            "srtsink uri=srt://127.0.0.1:0?mode=listener");
    }
    const std::set<int> portsBefore = ownUdpPorts();
    GError* failure = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &failure);
    if (pipeline == nullptr || failure != nullptr) {
        return usage(failure != nullptr ? failure->message : "no pipeline");
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    if (srt) {
        g_signal_connect(sink, "caller-added", G_CALLBACK(onCallerAdded), nullptr);
    }
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    if (gst_element_get_state(pipeline, nullptr, nullptr, kPrerollTimeout) ==
        GST_STATE_CHANGE_FAILURE) {
        return usage("the pipeline does not preroll");
    }
    // srtsink listens from the preroll on, on a port of the system's choice: the new one.
    int port = 0;
    for (int bound : ownUdpPorts()) {
        port = srt && portsBefore.count(bound) == 0 ? bound : port;
    }
    if (srt && port == 0) {
        return usage("srtsink does not listen");
    }
    const int listener = srt ? -1 : listenLoopback(port);
    if (!srt && listener < 0) {
        return usage("cannot listen");
    }
    std::printf("listening %d\n", port);
    std::fflush(stdout);
    const bool accepted = srt || addClients(listener, clients, flv, sink);
    if (!accepted || !waitForLine() || (srt && !waitForSrtCallers(clients))) {
        return usage("the clients did not come");
    }
    if (listener >= 0) {
        ::close(listener);
    }
    const int64_t start = monotonicNs();
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, GST_CLOCK_TIME_NONE, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const int64_t end = monotonicNs();
    const bool ok = GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    gst_message_unref(message);
    gst_object_unref(bus);
    if (args.has("--hold")) {
        std::printf("written\n");
        std::fflush(stdout);
        waitForLine();
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    std::printf("{\"start_ns\":%lld,\"end_ns\":%lld,\"ok\":%s}\n", static_cast<long long>(start),
                static_cast<long long>(end), ok ? "true" : "false");
    return ok ? 0 : 1;
}
