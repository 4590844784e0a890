"""The RTSP benchmark: one clip served at its own pace by libSluice's RTSP server (bench-cast)
and by GStreamer's (bench/gst/rtsp_server.py, gst-rtsp-server), each to 1, 16 and 64 clients
of bench-sink over UDP and over TCP (interleaved), all on 127.0.0.1."""

import os
import sys

from .casting import PEER_GST, PROJECT
from .procs import BenchError, Children
from .report import measure_rows, median_of

COUNTS = (1, 16, 64)
TRANSPORTS = ("udp", "tcp")
# UDP receive buffers of the clients: seconds of the stream, so that a loss is the sender's.
RECEIVE_BUFFER = 16 << 20


def seconds_of(quick):
    return 10 if quick else 30


class RtspBench:
    def __init__(self, bindir, repo, media, log=sys.stderr):
        self.bin = bindir
        self.repo = repo
        self.media = media
        self.log = log

    def _producer(self, producer, count, clip):
        if producer == PROJECT:
            return [os.path.join(self.bin, "bench-cast"), "--protocol", "rtsp", "--pace", "1",
                    "--clients", str(count), "--hold", clip]
        return [sys.executable, os.path.join(self.repo, "bench", "gst", "rtsp_server.py"), clip]

    def measure(self, producer, transport, count, seconds):
        """One run: the figures of the table, or None with the reason when it failed."""
        clip = self.media.clip(seconds)
        media_s = self.media.duration(clip)
        with Children() as kids:
            prod = kids.start(self._producer(producer, count, clip), name=producer)
            port = int(prod.expect("listening", 60).split()[1])
            sink = kids.start([os.path.join(self.bin, "bench-sink"), "rtsp", "--connect",
                               f"127.0.0.1:{port}", "--count", str(count), "--transport",
                               transport, "--rcvbuf", str(RECEIVE_BUFFER), "--quiet-ms", "1000",
                               "--timeout-s", str(int(3 * seconds + 120))], name="bench-sink")
            sink.expect("ready", 60)
            # libSluice starts writing now; GStreamer's clip started with the first PLAY.
            prod.send("go")
            prod.expect("written", 3 * seconds + 60)
            sink.send("finish")
            received = sink.expect_json(120)
            prod.send("done")
            prod.finish(60)
            sink.finish(30)
        return figures(received, prod.rusage, media_s)

    def run(self, runs, quick, progress):
        seconds = seconds_of(quick)
        rows = [((transport, count, producer), f"{transport} ×{count} {producer}",
                 lambda t=transport, c=count, p=producer: self.measure(p, t, c, seconds),
                 lambda f: f"{100 * f['delivered']:.2f}% delivered, "
                           f"{f['cpu_per_gb']:.2f} CPU s/GB, "
                           f"{100 * f['cpu_share']:.0f}% of a core")
                for transport in TRANSPORTS for count in COUNTS for producer in (PROJECT, PEER_GST)]
        return seconds, measure_rows("rtsp", runs, rows, progress)


def figures(received, usage, media_s):
    packets = received["packets"]
    expected = received["expected_packets"]
    if sum(received["bytes"]) == 0 or sum(expected) == 0:
        raise BenchError(f"nothing arrived: {received}")
    cpu = usage.ru_utime + usage.ru_stime
    return {
        "delivered": sum(packets) / sum(expected),
        "worst": min(p / e if e else 0.0 for p, e in zip(packets, expected)),
        "cpu_per_gb": cpu / (sum(received["bytes"]) / 1e9),
        "cpu_share": cpu / media_s,
        "rss_mb": usage.ru_maxrss / 1024,
        "bytes_per_client": sum(received["bytes"]) / len(received["bytes"]),
        "errors": received["errors"],
    }


def table(seconds, results):
    """The rows, and the two goals checked against them."""
    lines = ["| Clients | Transport | Server | Delivered | Sender CPU s/GB | Share of one core "
             "| Peak RSS MB | CPU s/GB ÷ GStreamer |",
             "|---|---|---|---|---|---|---|---|"]
    ratios = []
    goal_64 = []
    for transport in TRANSPORTS:
        for count in COUNTS:
            ours = median_of(results.get((transport, count, PROJECT), []))
            theirs = median_of(results.get((transport, count, PEER_GST), []))
            for producer, m in ((PROJECT, ours), (PEER_GST, theirs)):
                name = f"**{producer}**" if producer == PROJECT else producer
                if m is None:
                    lines.append(f"| {count} | {transport.upper()} | {name} | failed | | | | |")
                    continue
                delivered = f"{100 * m['delivered']:.2f}%"
                if m["worst"] < m["delivered"] - 0.0005:
                    delivered += f" (worst {100 * m['worst']:.2f}%)"
                ratio = "—"
                if producer == PROJECT and theirs is not None:
                    r = m["cpu_per_gb"] / theirs["cpu_per_gb"]
                    ratios.append(r)
                    ratio = f"{r:.2f}×"
                lines.append(f"| {count} | {transport.upper()} | {name} | {delivered} | "
                             f"{m['cpu_per_gb']:.2f} | {100 * m['cpu_share']:.0f}% | "
                             f"{m['rss_mb']:.1f} | {ratio} |")
            if count == 64 and ours is not None:
                goal_64.append(ours["delivered"] >= 1.0 and ours["cpu_share"] < 1.0)
    notes = [
        f"Goal: 100 % delivered to 64 clients under one core: "
        f"{'met' if goal_64 and all(goal_64) else 'not met'} ({len(goal_64)} of 2 rows measured).",
        f"Goal: CPU s/GB at most 0.5× GStreamer's: "
        f"{'met' if ratios and max(ratios) <= 0.5 else 'not met'} "
        f"(ratios {', '.join(f'{r:.2f}' for r in ratios) or 'n/a'}).",
        f"Clip {seconds} s at real-time pace, medians of the runs that completed.",
    ]
    return "\n".join(lines) + "\n\n" + "\n".join(f"- {n}" for n in notes)

