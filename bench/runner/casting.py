"""The casting benchmarks: one clip pushed through libSluice and through its peers (FFmpeg,
GStreamer, a bare sender) to receivers on 127.0.0.1 that count what arrives."""

import json
import os
import resource
import socket
import subprocess
import sys
import time

from .procs import BenchError, Children, run

PEER_FFMPEG = "FFmpeg"
PEER_GST = "GStreamer"
PROJECT = "libSluice"
BARE_SENDTO = "sendto"
BARE_SENDMMSG = "sendmmsg"
BARE_GSO = "gso"  # sendmmsg, up to four datagrams per target in one message (UDP_SEGMENT)

# libSluice with libsrt's unlimited send rate, the setting srtsink and FFmpeg's srt output run
# with (libsrt's own default); libSluice's default caps each peer at 200 Mbit/s.
PROJECT_SRT_UNPACED = "libSluice, maxbw -1"
# libsrt pacing each peer at 1.25 x the rate it measures (libSluice's default before the cap).
PROJECT_SRT_LIBSRT_PACED = "libSluice, maxbw 0"
# libSluice's constant-rate datagrams gathered: those due within 3.5 ms (three datagrams'
# time at the delivery rows' rate) leave together, up to four per target in one message.
PROJECT_GATHER = "libSluice, gather_us 3500"
# The options of each libSluice row of the SRT part.
SRT_OPTIONS = {PROJECT: [], PROJECT_SRT_UNPACED: ["maxbw=-1"], PROJECT_SRT_LIBSRT_PACED: ["maxbw=0"]}

DATAGRAM_BYTES = 1316

# The constant-rate clip (8 Mbit/s video, 128 kbit/s audio) at the transport rate korrin-sim
# sets for it: media + 10 % + 100 kbit/s (tools/korrin-sim/OutputPlan.h muxRate).
CBR_MUX_RATE = (8_000_000 + 128_000) * 11 // 10 + 100_000

# The real-time priority every sender of a delivery row runs at (libSluice: its sending
# thread, option "priority"; the peers: the whole process, chrt), as a broadcast sender runs
# on a busy device; all at the normal scheduler where the system refuses it.
DELIVERY_PRIORITY = 10
# How often the delivery rows' bench-sink drains its sockets (ts-check reads its kernel-stamped
# datagrams in batches on its own).
SINK_POLL_MS = 2
# How often bench-wake samples the machine's own wake-up lateness during a delivery row, and
# its priority: above the senders', so that it measures the machine (the host holding a
# vCPU, interrupts), not a sender that keeps a core busy at the same priority.
WAKE_PERIOD_US = 2000
WAKE_PRIORITY = DELIVERY_PRIORITY + 10


class Case:
    """One row group of the table: a protocol, a number of receivers, a clip length."""

    def __init__(self, proto, count, seconds, producers, paced=False):
        self.proto = proto
        self.count = count
        self.seconds = seconds
        self.producers = producers
        self.paced = paced  # at the stream's own rate instead of as fast as possible

    @property
    def key(self):
        return f"{self.proto.upper()} ×{self.count}" + (", real-time pace" if self.paced else "")


def cases(quick):
    """The casting cases; clip lengths keep every run short (64 targets as fast as possible
    move 64 times the clip)."""
    s = (lambda full, short: short if quick else full)
    datagram = [PROJECT, PEER_FFMPEG, PEER_GST]
    bare = [BARE_SENDTO, BARE_SENDMMSG, BARE_GSO]
    return [
        Case("udp", 1, s(60, 10), datagram + bare),
        Case("udp", 8, s(10, 3), datagram + bare),
        Case("udp", 64, s(2, 1), datagram + bare),
        Case("rtp", 1, s(60, 10), datagram),
        Case("rtp", 8, s(10, 3), datagram),
        Case("tcp", 1, s(60, 10), [PROJECT, PEER_GST]),
        Case("tcp", 16, s(60, 10), [PROJECT, PEER_GST]),
        Case("tcp", 100, s(20, 5), [PROJECT, PEER_GST]),
        Case("http", 1, s(60, 10), [PROJECT, PEER_GST]),
        Case("http", 16, s(60, 10), [PROJECT, PEER_GST]),
        Case("http", 100, s(20, 5), [PROJECT, PEER_GST]),
        # At the stream's own rate, as on the device: completeness and CPU per GB are the
        # figures here, not speed.
        Case("tcp", 100, s(10, 3), [PROJECT, PEER_GST], paced=True),
        Case("http", 100, s(10, 3), [PROJECT, PEER_GST], paced=True),
    ]


def srt_cases(quick):
    """SRT at the stream's own rate, the only way a live SRT sender runs: libSluice's listener
    against GStreamer's srtsink as listener, and FFmpeg's srt output where it fits (as a
    listener it serves one caller)."""
    seconds = 10 if quick else 30
    return [
        Case("srt", 1, seconds,
             [PROJECT, PROJECT_SRT_UNPACED, PROJECT_SRT_LIBSRT_PACED, PEER_GST, PEER_FFMPEG],
             paced=True),
        Case("srt", 8, seconds, [PROJECT, PROJECT_SRT_UNPACED, PROJECT_SRT_LIBSRT_PACED, PEER_GST],
             paced=True),
    ]


def free_port(kind=socket.SOCK_DGRAM):
    """A loopback port the system just gave out (SOCK_STREAM: a TCP one), for a peer that
    cannot listen on port 0 and name its port."""
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Caster:
    def __init__(self, bindir, media, workdir, log=sys.stderr):
        self.bin = bindir
        self.media = media
        self.log = log
        self._expected = {}
        self._targets = os.path.join(workdir, "bench-targets.txt")
        self._realtime = None  # whether chrt may use the real-time scheduler (asked once)

    def realtime(self):
        if self._realtime is None:
            self._realtime = subprocess.run(["chrt", "-f", str(DELIVERY_PRIORITY), "true"],
                                            capture_output=True).returncode == 0
        return self._realtime

    def tool(self, name):
        return os.path.join(self.bin, name)

    # --- producers ------------------------------------------------------------------------

    def _gst_datagram(self, proto, ports, clip):
        clients = ",".join(f"127.0.0.1:{p}" for p in ports)
        pay = ["rtpmp2tpay", "!"] if proto == "rtp" else []
        return (["gst-launch-1.0", "-q", "filesrc", f"location={clip}", "!", "qtdemux", "name=d",
                 "d.video_0", "!", "queue", "!", "h264parse", "!", "mux.",
                 "d.audio_0", "!", "queue", "!", "aacparse", "!", "mux.",
                 "mpegtsmux", "name=mux", "alignment=7", "!"] + pay +
                ["multiudpsink", f"clients={clients}", "sync=false"])

    def _ffmpeg_datagram(self, proto, ports, clip, muxrate=0):
        if proto == "rtp":
            fmt, urls = "rtp_mpegts", [f"rtp://127.0.0.1:{p}?pkt_size=1328" for p in ports]
        else:
            fmt, urls = "mpegts", [f"udp://127.0.0.1:{p}?pkt_size=1316" for p in ports]
        head = ["ffmpeg", "-nostdin", "-loglevel", "error", "-i", clip, "-map", "0", "-c", "copy"]
        # A constant-rate stream: the mpegts muxer's own muxrate (inside rtp_mpegts, its
        # options for the mpegts muxer it wraps).
        option = []
        if muxrate:
            option = (["mpegts_muxer_options", f"muxrate={muxrate}"] if proto == "rtp"
                      else ["muxrate", str(muxrate)])
        if len(urls) == 1:
            return head + ["-f", fmt] + (["-" + option[0], option[1]] if option else []) + urls
        # Several targets the way FFmpeg's documentation does it: the tee muxer (its option
        # values escape their own "=").
        slave = f"f={fmt}" + (f":{option[0]}={option[1].replace('=', chr(92) + '=')}"
                              if option else "")
        return head + ["-f", "tee", "|".join(f"[{slave}]{u}" for u in urls)]

    def _datagram_command(self, producer, proto, ports, clip, seconds):
        targets = self._targets
        with open(targets, "w") as out:
            out.write("".join(f"127.0.0.1:{p}\n" for p in ports))
        if producer == PROJECT:
            return [self.tool("bench-cast"), "--protocol", proto, "--targets-file", targets, clip]
        if producer == PEER_FFMPEG:
            return self._ffmpeg_datagram(proto, ports, clip)
        if producer == PEER_GST:
            return self._gst_datagram(proto, ports, clip)
        return [self.tool("bench-udp-limit"), "--mode", producer, "--targets-file", targets,
                self.media.transport_stream(seconds)]

    # --- runs -----------------------------------------------------------------------------

    def run_datagram(self, producer, proto, count, seconds, extra=None):
        clip = self.media.clip(seconds)
        with Children() as kids:
            sink_args = [self.tool("bench-sink"), "udp", "--count", str(count)]
            sink = kids.start(sink_args + (["--rtp"] if proto == "rtp" else []))
            ports = sink.expect("ports", 30).split()[1:]
            command = self._datagram_command(producer, proto, ports, clip, seconds)
            prod = kids.start(command + (extra or []), name=producer)
            if prod.finish(timeout=1800) != 0:
                raise BenchError(f"{producer} failed:\n{prod.stderr_text()}")
            sink.send("finish")
            received = sink.expect_json(120)
            sink.finish(30)
            report = [line for line in prod.remaining_lines() if line.startswith("{")]
        return received, prod.rusage, report

    def run_stream(self, producer, proto, count, seconds, stalled=0, paced=False):
        """proto tcp, http or flv (HTTP-FLV at /live.flv, its media tags counted)."""
        clip = self.media.clip(seconds)
        sink_mode, sink_extra = ("http", ["--path", "/live.flv", "--flv"]) if proto == "flv" \
            else (proto, [])
        if producer == PROJECT:
            command = [self.tool("bench-cast"), "--protocol", proto]
            command += ["--pace", "1"] if paced else []
            # Every bench client comes from 127.0.0.1: lift the per-address limit (16).
            command += ["--option", f"maxperaddress={min(count + stalled, 1024)}"]
        else:
            command = [self.tool("bench-gst")] + (["--realtime"] if paced else [])
            if proto == "flv":
                command += ["--flv"]  # flvmux, the request answered with a response head
            else:
                sink_mode = "tcp"  # GStreamer serves the raw stream
        command += ["--clients", str(count + stalled), "--hold", clip]
        with Children() as kids:
            prod = kids.start(command, name=producer)
            port = int(prod.expect("listening", 60).split()[1])
            sink = kids.start([self.tool("bench-sink"), sink_mode, "--connect",
                               f"127.0.0.1:{port}", "--count", str(count), "--stall",
                               str(stalled)] + sink_extra)
            sink.expect("ready", 60)
            prod.send("go")
            prod.expect("written", 1800)
            sink.send("finish")
            received = sink.expect_json(600)
            prod.send("done")
            prod.finish(60)
            sink.finish(30)
        return received, prod.rusage

    def run_srt(self, producer, count, seconds):
        """SRT callers of bench-sink (libsrt, live mode, the receiver delay libsrt defaults
        to) connected to the producer's listener; each message is one block of the stream."""
        clip = self.media.clip(seconds)
        with Children() as kids:
            if producer == PEER_FFMPEG:
                # -re: FFmpeg reads the input at its own rate; it starts once the caller is in.
                port = free_port()
                prod = kids.start(["ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-i", clip,
                                   "-map", "0", "-c", "copy", "-f", "mpegts",
                                   f"srt://127.0.0.1:{port}?mode=listener&pkt_size=1316"],
                                  name=producer)
            else:
                if producer == PEER_GST:
                    command = [self.tool("bench-gst"), "--srt", "--realtime"]
                else:
                    command = [self.tool("bench-cast"), "--protocol", "srt", "--pace", "1"]
                    for option in SRT_OPTIONS[producer]:
                        command += ["--option", option]
                    # All callers come from 127.0.0.1: lift the caller limits (32, 8 each).
                    command += ["--option", f"maxclients={min(max(count, 32), 256)}",
                                "--option", f"maxperaddress={min(max(count, 8), 256)}"]
                prod = kids.start(command + ["--clients", str(count), "--hold", clip],
                                  name=producer)
                port = int(prod.expect("listening", 60).split()[1])
            sink = kids.start([self.tool("bench-sink"), "srt", "--connect", f"127.0.0.1:{port}",
                               "--count", str(count), "--quiet-ms", "1000"])
            sink.expect("ready", 60)
            if producer == PEER_FFMPEG:
                if prod.finish(1800) != 0:
                    raise BenchError(f"{producer} failed:\n{prod.stderr_text()}")
            else:
                prod.send("go")
                prod.expect("written", 1800)
            sink.send("finish")
            received = sink.expect_json(600)
            if producer != PEER_FFMPEG:
                prod.send("done")
                prod.finish(60)
            sink.finish(30)
        return received, prod.rusage

    def expected_bytes(self, producer, proto, seconds):
        """The whole stream a receiver should get: what one receiver got over UDP (RTP) with
        a deep receive buffer and no kernel drop, or the transport stream file's size for the
        bare sender."""
        datagram = "rtp" if proto == "rtp" else "udp"
        if producer in SRT_OPTIONS:
            producer = PROJECT  # the same multiplexer output
        key = (producer, datagram, seconds)
        if key not in self._expected:
            if producer in (BARE_SENDTO, BARE_SENDMMSG, BARE_GSO):
                self._expected[key] = os.path.getsize(self.media.transport_stream(seconds))
            else:
                # libSluice never holds its writer back: written faster than its sender can
                # go, it drops the oldest datagrams. The reference is the multiplexer's whole
                # output, so it is taken at a pace the sender surely keeps (4x real time).
                extra = ["--pace", "4"] if producer == PROJECT else None
                received, _, _ = self.run_datagram(producer, datagram, 1, seconds, extra=extra)
                if received["kernel_drops"] != 0:
                    raise BenchError(f"calibration of {producer} lost datagrams")
                self._expected[key] = received["bytes"][0]
        return self._expected[key]

    def measure(self, producer, case, stalled=0):
        """One run of one producer in one case, reduced to the table's figures."""
        if case.proto in ("udp", "rtp"):
            received, usage, _ = self.run_datagram(producer, case.proto, case.count, case.seconds)
        elif case.proto == "srt":
            received, usage = self.run_srt(producer, case.count, case.seconds)
        else:
            received, usage = self.run_stream(producer, case.proto, case.count, case.seconds,
                                              stalled, case.paced)
        expected = self.expected_bytes(producer, case.proto, case.seconds)
        media_s = self.media.duration(self.media.clip(case.seconds))
        return figures(received, usage, expected, media_s)

    def ceiling(self, seconds, counts):
        """How many UDP targets libSluice keeps in real time: the clip written at its own
        pace (as the encoder writes it) to each count of targets in turn, until one fails.
        A count keeps real time when every receiver got the whole stream and the last datagram
        arrived within lag_limit_s of the last write (the sender did not fall behind)."""
        lag_limit_s = 0.3
        clip = self.media.clip(seconds)
        media_s = self.media.duration(clip)
        expected = self.expected_bytes(PROJECT, "udp", seconds)
        probes = []
        for count in counts:
            received, usage, report = self.run_datagram(PROJECT, "udp", count, seconds,
                                                        extra=["--pace", "1"])
            cast = json.loads(report[-1])
            lag = (received["last_ns"] - cast["end_ns"]) / 1e9
            worst = min(received["bytes"]) / expected
            cpu = (usage.ru_utime + usage.ru_stime) / media_s
            keeps = worst >= 1.0 and lag <= lag_limit_s
            probes.append({"count": count, "keeps": keeps, "worst": worst, "lag_s": lag,
                           "cpu_share": cpu, "rss_mb": usage.ru_maxrss / 1024,
                           "drops": received["kernel_drops"]})
            print(f"    ceiling probe {count} targets: {'keeps' if keeps else 'falls behind'} "
                  f"(worst {100 * worst:.1f}%, lag {1000 * lag:.0f} ms, "
                  f"{100 * cpu:.0f}% of a core)", file=self.log, flush=True)
            if not keeps:
                break
        kept = [p["count"] for p in probes if p["keeps"]]
        return {"ceiling": max(kept) if kept else 0, "probes": probes, "seconds": media_s,
                "lag_limit_s": lag_limit_s}

    def delivery(self, seconds, count=64, sampled=8):
        """The real-time rows checked at the receivers: each sender writes the clip at its own
        pace to `count` UDP (RTP) targets, every (count / sampled)-th of them a ts-check
        listening on its own port (arrival times from the kernel's receive timestamps); the
        rest are bench-sink's. The constant bit rate clip as a constant-rate transport stream
        (libSluice's mux rate, mpegtsmux's bitrate, FFmpeg's muxrate: the same rate), over
        UDP and RTP; then the benchmark clip (variable bit rate) as a variable stream. Every
        sender at the same real-time priority where the system allows it, with bench-wake
        measuring the machine's own wake-up lateness alongside."""
        out = []
        for cbr, proto in ((True, "udp"), (True, "rtp"), (False, "udp")):
            for producer in (PROJECT,) + ((PROJECT_GATHER,) if cbr else ()) + (PEER_GST,
                                                                               PEER_FFMPEG):
                row = self._delivery_run(producer, proto, cbr, seconds, count, sampled)
                out.append(row)
                reports = row["receivers"]
                worst_df = max(r["delivery"]["delay_factor_ms"] for r in reports)
                p1 = sum(r["priority1"]["total"] for r in reports)
                print(f"    delivery, {row['clip']} clip, {producer}, {count} {proto} targets: "
                      f"{p1} priority-1 errors, delay factor up to {worst_df:.1f} ms, "
                      f"{100 * row['cpu_share']:.0f}% of a core", file=self.log, flush=True)
        return out

    def _delivery_command(self, producer, proto, ports, clip, muxrate):
        """The sender of a delivery row, at real-time pace."""
        realtime = self.realtime()
        if producer in (PROJECT, PROJECT_GATHER):
            command = self._datagram_command(PROJECT, proto, ports, clip, None)
            if muxrate:
                command[1:1] = ["--option", f"muxrate={muxrate}"]
            if producer == PROJECT_GATHER:
                command[1:1] = ["--option", "gather_us=3500"]
            if realtime:
                command[1:1] = ["--option", f"priority={DELIVERY_PRIORITY}"]
            return command + ["--pace", "1"]
        chrt = ["chrt", "-f", str(DELIVERY_PRIORITY)] if realtime else []
        if producer == PEER_GST:
            command = self._gst_datagram(proto, ports, clip)
            at = command.index("mpegtsmux") + 1
            command[at:at] = [f"bitrate={muxrate}"] if muxrate else []
            command[-1] = "sync=true"  # at the clip's own pace
            return chrt + command
        command = self._ffmpeg_datagram(proto, ports, clip, muxrate)
        command.insert(command.index("-i"), "-re")  # FFmpeg reads at the input's own rate
        return chrt + command

    def _delivery_run(self, producer, proto, cbr, seconds, count, sampled):
        clip = self.media.clip(seconds, cbr=cbr)
        media_s = self.media.duration(clip)
        muxrate = CBR_MUX_RATE if cbr else 0
        with Children() as kids:
            checks = []
            for _ in range(sampled):
                check = kids.start([self.tool("ts-check"), "--json", "--wait", "120",
                                    f"{proto}://127.0.0.1:0"], name="ts-check")
                checks.append(check)
            check_ports = [self._reported_port(c) for c in checks]
            # The receivers read in batches, not woken by every datagram: their wake-ups
            # would be charged to the sender, which on the device serves other machines.
            sink = kids.start([self.tool("bench-sink"), "udp", "--count", str(count - sampled),
                               "--poll-ms", str(SINK_POLL_MS)]
                              + (["--rtp"] if proto == "rtp" else []))
            sink_ports = sink.expect("ports", 30).split()[1:]
            # The sampled receivers spread over the target list (the sender serves it in
            # order): targets 0, 8, 16, ... of 64.
            step = count // sampled
            ports = [check_ports[i // step] if i % step == 0 else sink_ports.pop(0)
                     for i in range(count)]
            # The machine's own lateness while the row runs: a delay factor cannot be lower.
            wake = kids.start([self.tool("bench-wake"), "--seconds", "0", "--period-us",
                               str(WAKE_PERIOD_US), "--priority",
                               str(WAKE_PRIORITY if self.realtime() else 0)],
                              name="bench-wake")
            prod = kids.start(self._delivery_command(producer, proto, ports, clip, muxrate),
                              name=producer)
            if prod.finish(timeout=1800) != 0:
                raise BenchError(f"{producer} failed:\n{prod.stderr_text()}")
            wake.send("finish")
            woken = wake.expect_json(30)
            wake.finish(30)
            cast = [line for line in prod.remaining_lines() if line.startswith("{")]
            sink.send("finish")
            received = sink.expect_json(120)
            sink.finish(30)
            reports = []
            for check in checks:
                reports.append(check.expect_json(120))
                check.finish(30)
        usage = prod.rusage
        clip_name = "constant bit rate" if cbr else "variable bit rate"
        if muxrate:
            clip_name += f", mux rate {muxrate / 1e6:.2f} Mbit/s"
        return {"clip": clip_name, "muxrate": muxrate, "producer": producer, "proto": proto,
                "count": count, "seconds": media_s,
                "cpu_share": (usage.ru_utime + usage.ru_stime) / media_s,
                # Only bench-cast reports when it wrote the last frame.
                "lag_s": ((received["last_ns"] - json.loads(cast[-1])["end_ns"]) / 1e9
                          if cast else None),
                "sink_min_bytes": min(received["bytes"]),
                "sink_max_bytes": max(received["bytes"]),
                "sink_drops": received["kernel_drops"], "receivers": reports,
                "realtime": self.realtime(), "wake": woken}

    def target_adds(self, count=1000, runs=3):
        """sluice_add_target and sluice_remove_target, count of each on one UDP caster
        (numeric targets: the caster's own cost, no name server), the median of runs."""
        results = []
        for _ in range(runs):
            out = run([self.tool("bench-cast"), "--add-targets", str(count)], timeout=300)
            results.append(json.loads(out.strip().splitlines()[-1]))
        results.sort(key=lambda r: r["adds_s"])
        return results[len(results) // 2]

    @staticmethod
    def _reported_port(check):
        """ts-check listening on port 0 names its port on standard error."""
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            for word in check.stderr_text().split("listening on udp port ")[1:]:
                return word.split()[0]
            time.sleep(0.01)
        raise BenchError("ts-check did not report its port\n" + check.stderr_text())

    def stalled_rss(self, stalled, seconds):
        """Peak RSS of an HTTP caster written at real-time pace while `stalled` clients have
        sent their request and never read, against the same caster without clients."""
        clip = self.media.clip(seconds)
        out = {}
        for clients in (0, stalled):
            with Children() as kids:
                # From one address: the per-address limit (16) lifted, to measure the
                # client limit (256) as before.
                prod = kids.start([self.tool("bench-cast"), "--protocol", "http", "--pace", "1",
                                   "--option", "maxperaddress=1024", "--clients", "0", "--hold",
                                   clip], name=PROJECT)
                port = int(prod.expect("listening", 60).split()[1])
                held = open_stalled_http(port, clients)
                time.sleep(0.5)  # the accepts and their responses
                prod.send("go")
                prod.expect("written", 600)
                prod.send("done")
                prod.finish(60)
                open_sockets = sum(1 for s in held if not _closed(s))
                for s in held:
                    s.close()
            out[clients] = {"rss_mb": prod.rusage.ru_maxrss / 1024, "still_open": open_sockets}
        return {"stalled": stalled, "seconds": seconds, "runs": out}


def _closed(sock):
    """Whether the server closed this stalled client (end of stream waiting, or a reset)."""
    try:
        return sock.recv(1, socket.MSG_PEEK | socket.MSG_DONTWAIT) == b""
    except BlockingIOError:
        return False
    except OSError:
        return True


def open_stalled_http(port, count):
    """count HTTP clients that send one request and never read (their receive buffers kept
    small, so the caster's own backlog is what holds the stream)."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft < count + 256:
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, count + 256), hard))
    held = []
    for _ in range(count):
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        held.append(sock)
        try:
            sock.connect(("127.0.0.1", port))
            sock.sendall(b"GET / HTTP/1.1\r\nHost: bench\r\n\r\n")
        except OSError:
            pass  # closed at once by the caster's client limit
    return held


def figures(received, usage, expected, media_s):
    delivered = sum(received["bytes"])
    receivers = len(received["bytes"])
    wall = (received["last_ns"] - received["first_ns"]) / 1e9
    if delivered == 0 or wall <= 0:
        raise BenchError(f"nothing arrived: {received}")
    fraction = delivered / (expected * receivers)
    xrt = media_s / wall
    gigabytes = delivered / 1e9
    return {
        "xrt": xrt,
        "xrt_delivered": xrt * min(fraction, 1.0),
        "user_per_gb": usage.ru_utime / gigabytes,
        "sys_per_gb": usage.ru_stime / gigabytes,
        "cpu_per_gb": (usage.ru_utime + usage.ru_stime) / gigabytes,
        "rss_mb": usage.ru_maxrss / 1024,
        "delivered": fraction,
        "worst": min(received["bytes"]) / expected,
        "drops": received["kernel_drops"],
        "stalled_bytes": received.get("stalled_bytes", []),
        "expected_bytes": expected,
        "wall_s": wall,
    }
