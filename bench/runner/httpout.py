"""The HLS and HTTP-FLV benchmarks: one clip at its own pace to 64 HLS players and to 64
HTTP-FLV clients of bench-sink, on 127.0.0.1. HLS: libSluice's server (bench-cast) against
GStreamer's hlssink2 and FFmpeg's hls muxer, whose files nginx serves; HTTP-FLV: libSluice
against GStreamer's flvmux into multisocketsink (bench-gst --flv)."""

import json
import os
import shutil
import signal
import socket
import sys
import time
from statistics import median

from .casting import PEER_FFMPEG, PEER_GST, PROJECT
from .procs import BenchError, Children
from .report import measure_rows

CLIENTS = 64
WINDOW = 6
SEGMENT_MS = 1000
PLAYLIST = "live.m3u8"

HLS_PRODUCERS = (PROJECT, PEER_GST, PEER_FFMPEG)
FLV_PRODUCERS = (PROJECT, PEER_GST)

NGINX_CONF = """daemon off;
master_process off;
worker_processes 1;
pid {dir}/nginx.pid;
events {{ worker_connections 1024; }}
http {{
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path {dir}/tmp-body;
    proxy_temp_path {dir}/tmp-proxy;
    fastcgi_temp_path {dir}/tmp-fastcgi;
    uwsgi_temp_path {dir}/tmp-uwsgi;
    scgi_temp_path {dir}/tmp-scgi;
    types {{ application/vnd.apple.mpegurl m3u8; video/mp2t ts; }}
    server {{
        listen 127.0.0.1:{port};
        root {dir}/www;
        location ~ \\.m3u8$ {{ add_header Cache-Control no-cache; }}
    }}
}}
"""


def seconds_of(quick):
    return 10 if quick else 30


def _free_tcp_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _wait_listening(server, port, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        with socket.socket() as probe:
            if probe.connect_ex(("127.0.0.1", port)) == 0:
                return
        time.sleep(0.02)
    raise BenchError(f"nginx does not listen on {port}\n" + server.stderr_text())


class HttpOutBench:
    def __init__(self, bindir, media, caster, workdir, log=sys.stderr):
        self.bin = bindir
        self.media = media
        self.caster = caster
        self.dir = os.path.abspath(os.path.join(workdir, "hls-nginx"))
        self.log = log

    # --- HLS ------------------------------------------------------------------------------

    def _start_nginx(self, kids):
        """A fresh nginx in the work folder serving www/ (one process: its CPU is one
        figure); returns the process and its port."""
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(os.path.join(self.dir, "www"))
        port = _free_tcp_port()
        conf = os.path.join(self.dir, "nginx.conf")
        with open(conf, "w") as out:
            out.write(NGINX_CONF.format(dir=self.dir, port=port))
        server = kids.start(["nginx", "-p", self.dir, "-c", conf, "-e",
                             os.path.join(self.dir, "error.log")], name="nginx")
        _wait_listening(server, port)
        return server, port

    def _peer_command(self, producer, clip):
        www = os.path.join(self.dir, "www")
        if producer == PEER_GST:
            # clocksync: at the clip's own pace, as a live source delivers it.
            return ["gst-launch-1.0", "-q", "filesrc", f"location={clip}", "!", "qtdemux",
                    "name=d", "d.video_0", "!", "queue", "!", "clocksync", "!", "h264parse", "!",
                    "s.video", "d.audio_0", "!", "queue", "!", "clocksync", "!", "aacparse", "!",
                    "s.audio", "hlssink2", "name=s", "target-duration=1",
                    f"playlist-length={WINDOW}", f"max-files={WINDOW + 1}",
                    f"location={www}/segment%05d.ts", f"playlist-location={www}/{PLAYLIST}"]
        return ["ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-i", clip, "-map", "0",
                "-c", "copy", "-f", "hls", "-hls_time", "1", "-hls_list_size", str(WINDOW),
                "-hls_flags", "delete_segments", "-hls_segment_filename", f"{www}/live%d.ts",
                f"{www}/{PLAYLIST}"]

    def _sink(self, kids, port):
        sink = kids.start([os.path.join(self.bin, "bench-sink"), "hls", "--connect",
                           f"127.0.0.1:{port}", "--count", str(CLIENTS), "--path",
                           f"/{PLAYLIST}", "--timeout-s", "900"], name="bench-sink")
        sink.expect("ready", 60)
        return sink

    def measure_hls(self, producer, seconds):
        clip = self.media.clip(seconds)
        server_usage = None
        cast = {}
        with Children() as kids:
            if producer == PROJECT:
                prod = kids.start([os.path.join(self.bin, "bench-cast"), "--protocol", "hls",
                                   "--pace", "1", "--option", f"segment_ms={SEGMENT_MS}",
                                   "--option", f"window={WINDOW}",
                                   # every player comes from 127.0.0.1 (limit: 16)
                                   "--option", f"maxperaddress={CLIENTS}",
                                   "--clients", str(CLIENTS), "--hold", clip], name=producer)
                port = int(prod.expect("listening", 60).split()[1])
                sink = self._sink(kids, port)
                prod.send("go")
                prod.expect("written", 3 * seconds + 60)
                sink.send("finish")
                received = sink.expect_json(120)
                prod.send("done")
                prod.finish(60)
                cast = json.loads([line for line in prod.remaining_lines()
                                   if line.startswith("{")][-1])
            else:
                server, port = self._start_nginx(kids)
                sink = self._sink(kids, port)  # polling before the first segment
                prod = kids.start(self._peer_command(producer, clip), name=producer)
                if prod.finish(3 * seconds + 60) != 0:
                    raise BenchError(f"{producer} failed:\n{prod.stderr_text()}")
                sink.send("finish")
                received = sink.expect_json(120)
                os.kill(server.p.pid, signal.SIGQUIT)  # graceful: its usage is recorded
                server.finish(30)
                server_usage = server.rusage
            sink.finish(30)
        return hls_figures(received, prod.rusage, server_usage, cast)

    # --- HTTP-FLV -------------------------------------------------------------------------

    def measure_flv(self, producer, seconds):
        clip = self.media.clip(seconds)
        received, usage = self.caster.run_stream(producer, "flv", CLIENTS, seconds, paced=True)
        frames = self.media.frames(clip)
        got = received["packets"]
        if sum(received["bytes"]) == 0:
            raise BenchError(f"nothing arrived: {received}")
        cpu = usage.ru_utime + usage.ru_stime
        return {
            "delivered": sum(got) / (len(got) * frames),
            "worst": min(got) / frames,
            "cpu_per_gb": cpu / (sum(received["bytes"]) / 1e9),
            "rss_mb": usage.ru_maxrss / 1024,
            "bytes_per_client": sum(received["bytes"]) / len(received["bytes"]),
            "frames": frames,
            "errors": received["errors"],
        }

    def run(self, runs, quick, progress):
        seconds = seconds_of(quick)
        jobs = [("HLS", p, self.measure_hls) for p in HLS_PRODUCERS] + \
               [("HTTP-FLV", p, self.measure_flv) for p in FLV_PRODUCERS]
        rows = [((output, producer), f"{output} {producer}",
                 lambda m=measure, p=producer: m(p, seconds),
                 lambda f: f"{100 * f['delivered']:.2f}% delivered, "
                           f"{f['cpu_per_gb']:.2f} CPU s/GB")
                for output, producer, measure in jobs]
        return seconds, measure_rows("hls", runs, rows, progress)


def hls_figures(received, usage, server_usage, cast):
    produced = received["produced"]
    fetched = received["packets"]
    total = sum(received["bytes"])
    if produced == 0 or total == 0:
        raise BenchError(f"no segment was fetched: {received}")
    cpu = usage.ru_utime + usage.ru_stime
    out = {
        "delivered": sum(fetched) / (len(fetched) * produced),
        "worst": min(fetched) / produced,
        "complete": sum(received["complete"]),
        "missed": sum(received["missed"]),
        "produced": produced,
        "cpu_per_gb": cpu / (total / 1e9),
        "rss_mb": usage.ru_maxrss / 1024,
        "playlist_share": sum(received["playlist_bytes"]) / total,
        "gb": total / 1e9,
        "errors": received["errors"],
    }
    if server_usage is not None:
        out["server_cpu_per_gb"] = (server_usage.ru_utime + server_usage.ru_stime) / (total / 1e9)
        out["server_rss_mb"] = server_usage.ru_maxrss / 1024
    if "key_ns" in cast:
        out.update(_latency(received, cast["key_ns"]))
    return out


def _latency(received, key_ns):
    """From a segment's first frame handed to the library to the first player holding the
    whole segment. A segment's first frame is the key frame at its start in media time (the
    sum of the #EXTINF durations before it; the first segment starts at the first key frame),
    at real-time pace the one written nearest that time after the first."""
    start_s = 0.0
    waits = []
    for done, duration_ms in zip(received["segment_fetched_ns"], received["segment_ms"]):
        if done:
            written = min(key_ns, key=lambda ns: abs((ns - key_ns[0]) / 1e9 - start_s))
            waits.append((done - written) / 1e9)
        start_s += duration_ms / 1000
    if not waits:
        return {}
    return {"latency_median_s": median(waits), "latency_max_s": max(waits)}


def table(seconds, results):
    lines = ["| Output | Sender | Delivered | Players with every segment | Sender CPU s/GB "
             "| nginx CPU s/GB | Peak RSS MB | CPU s/GB ÷ GStreamer |",
             "|---|---|---|---|---|---|---|---|"]
    goals = []
    notes = []
    for output, producers in (("HLS", HLS_PRODUCERS), ("HTTP-FLV", FLV_PRODUCERS)):
        gst = _median(results.get((output, PEER_GST), []))
        for producer in producers:
            m = _median(results.get((output, producer), []))
            name = f"**{producer}**" if producer == PROJECT else producer
            row = f"{output} ×{CLIENTS}"
            if m is None:
                lines.append(f"| {row} | {name} | failed | | | | | |")
                if producer == PROJECT:
                    goals.append(False)
                continue
            delivered = f"{100 * m['delivered']:.2f}%"
            if m["worst"] < m["delivered"] - 0.00005:
                delivered += f" (worst {100 * m['worst']:.2f}%)"
            players = f"{m['complete']:.0f} of {CLIENTS} ({m['produced']:.0f} segments)" \
                if output == "HLS" else "—"
            server = f"{m['server_cpu_per_gb']:.2f}" if "server_cpu_per_gb" in m else "—"
            rss = f"{m['rss_mb']:.1f}"
            if "server_rss_mb" in m:
                rss += f" (nginx {m['server_rss_mb']:.1f})"
            ratio = "—"
            if producer != PEER_GST and gst is not None:
                r = m["cpu_per_gb"] / gst["cpu_per_gb"]
                ratio = f"{r:.2f}×"
                if producer == PROJECT:
                    both = gst["cpu_per_gb"] + gst.get("server_cpu_per_gb", 0)
                    goals.append(m["delivered"] >= 1.0 and r <= 1.0)
                    if output == "HLS":
                        ratio += f" ({m['cpu_per_gb'] / both:.2f}× GStreamer + nginx)"
            lines.append(f"| {row} | {name} | {delivered} | {players} | "
                         f"{m['cpu_per_gb']:.2f} | {server} | {rss} | {ratio} |")
            if "latency_median_s" in m:
                notes.append(f"HLS, libSluice: from a segment's first frame handed to the "
                             f"library to the first player holding the whole segment: median "
                             f"{m['latency_median_s']:.2f} s, at most "
                             f"{m['latency_max_s']:.2f} s (server side only: a player adds "
                             f"its own buffer).")
    notes.insert(0, f"Goals (libSluice: 100 % delivered, CPU s/GB at most GStreamer's): "
                    f"{'met' if goals and all(goals) else 'not met'} "
                    f"({sum(goals)} of {len(goals)} rows).")
    notes.append(f"Clip {seconds} s at real-time pace, medians of the runs that completed.")
    return "\n".join(lines) + "\n\n" + "\n".join(f"- {n}" for n in notes)


def _median(rows):
    done = [r for r in rows if "failed" not in r]
    if not done:
        return None
    return {k: median(r[k] for r in done) for k in done[0]}
