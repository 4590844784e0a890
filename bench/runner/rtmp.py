"""The RTMP push benchmark: one clip pushed at its own pace to 1 and to 4 stream names of an
nginx-rtmp server on 127.0.0.1 by libSluice (bench-cast, one caster per URL), FFmpeg (-re, its
tee muxer for several URLs) and GStreamer (flvmux ! rtmpsink, a tee for several). What
arrived is what nginx recorded: `record all` writes every received tag of each stream name
to its own FLV file, whose frames ffprobe counts against the clip's."""

import json
import os
import shutil
import signal
import socket
import sys
import time

from .casting import PEER_FFMPEG, PEER_GST, PROJECT, free_port
from .procs import BenchError, Children, run
from .report import measure_rows, median_of

COUNTS = (1, 4)
PRODUCERS = (PROJECT, PEER_FFMPEG, PEER_GST)
KINDS = ("video", "audio")
# /proc/net/tcp states of a server connection that may still hold unread bytes.
OPEN_STATES = {"01", "08"}  # ESTABLISHED, CLOSE_WAIT


def seconds_of(quick):
    return 10 if quick else 30


class NginxRtmp:
    """nginx with the RTMP module in a folder of its own: one application, "live", that
    takes publishes on any stream name and records each to FOLDER/rec/NAME.flv."""

    def __init__(self, kids, folder):
        folder = os.path.abspath(folder)  # nginx takes relative paths from its prefix
        shutil.rmtree(folder, ignore_errors=True)
        self.records = os.path.join(folder, "rec")
        os.makedirs(self.records)
        self.port = free_port(socket.SOCK_STREAM)
        conf = os.path.join(folder, "nginx.conf")
        log = os.path.join(folder, "error.log")
        with open(conf, "w") as out:
            out.write(f"load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n"
                      f"daemon off;\nmaster_process off;\nerror_log {log} info;\n"
                      f"pid {folder}/nginx.pid;\nevents {{ worker_connections 64; }}\n"
                      f"rtmp {{ server {{ listen 127.0.0.1:{self.port};\n"
                      f"  application live {{ live on; record all; "
                      f"record_path {self.records}; }} }} }}\n")
        self.proc = kids.start(["nginx", "-p", folder, "-e", log, "-c", conf], name="nginx")
        self._wait(lambda: _accepts(self.port), 10, "does not accept")

    def urls(self, count):
        return [f"rtmp://127.0.0.1:{self.port}/live/s{i + 1}" for i in range(count)]

    def stop(self):
        """Once every publisher's connection is read to its end (nginx closed its side),
        nginx is ended by its pid; returns the recorded FLV files."""
        self._wait(lambda: not self._open_connections(), 30, "keeps connections open")
        os.kill(self.proc.p.pid, signal.SIGTERM)
        self.proc.finish(10)
        return sorted(os.path.join(self.records, f) for f in os.listdir(self.records))

    def _open_connections(self):
        local = f":{self.port:04X}"
        with open("/proc/net/tcp") as table:
            rows = [line.split() for line in table.readlines()[1:]]
        return [r for r in rows if r[1].endswith(local) and r[3] in OPEN_STATES]

    def _running(self):
        """Not ended (a zombie is ended; it is left to be reaped with its resource usage)."""
        try:
            with open(f"/proc/{self.proc.p.pid}/stat") as stat:
                return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
        except OSError:
            return False

    def _wait(self, done, timeout, what):
        deadline = time.monotonic() + timeout
        while not done():
            if time.monotonic() > deadline or not self._running():
                raise BenchError(f"nginx {what} within {timeout} s\n" + self.proc.stderr_text())
            time.sleep(0.01)


def _accepts(port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        return probe.connect_ex(("127.0.0.1", port)) == 0


def frame_counts(path):
    """{"video": frames, "audio": frames} of a media file, as ffprobe counts its packets."""
    out = json.loads(run(["ffprobe", "-v", "error", "-count_packets", "-show_entries",
                          "stream=codec_type,nb_read_packets", "-of", "json", path]))
    counts = dict.fromkeys(KINDS, 0)
    for stream in out["streams"]:
        if stream.get("codec_type") in counts:
            counts[stream["codec_type"]] += int(stream.get("nb_read_packets", 0))
    return counts


class RtmpBench:
    def __init__(self, bindir, media, workdir, log=sys.stderr):
        self.bin = bindir
        self.media = media
        self.work = os.path.join(workdir, "rtmp")
        self.log = log

    def _producer(self, producer, urls, clip):
        if producer == PROJECT:
            command = [os.path.join(self.bin, "bench-cast"), "--protocol", "rtmp", "--pace", "1"]
            for url in urls:
                command += ["--url", url]
            return command + [clip]
        if producer == PEER_FFMPEG:
            head = ["ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-i", clip, "-map", "0",
                    "-c", "copy", "-f"]
            if len(urls) == 1:
                return head + ["flv", urls[0]]
            # The tee hands the MP4's codec tags (avc1, mp4a) to its FLV muxers, which refuse
            # them: FLV's own codec ids instead (H.264 7, AAC 10).
            return head[:-1] + ["-tag:v", "7", "-tag:a", "10", "-f", "tee",
                                "|".join(f"[f=flv]{url}" for url in urls)]
        head = ["gst-launch-1.0", "-q", "filesrc", f"location={clip}", "!", "qtdemux", "name=d",
                "d.video_0", "!", "queue", "!", "h264parse", "!", "mux.",
                "d.audio_0", "!", "queue", "!", "aacparse", "!", "mux.",
                "flvmux", "name=mux", "streamable=true", "!"]
        sinks = [["rtmpsink", f"location={url} live=1", "sync=true"] for url in urls]
        if len(urls) == 1:
            return head + sinks[0]
        # One pipeline: the FLV stream is made once and a tee hands it to one rtmpsink per
        # server, each behind its own queue (thread), GStreamer's own way to several outputs.
        return head + ["tee", "name=t"] + [w for sink in sinks for w in ["t.", "!", "queue", "!"]
                                             + sink]

    def measure(self, producer, count, seconds, rep):
        clip = self.media.clip(seconds)
        folder = os.path.join(self.work, f"{producer.replace(' ', '-')}-{count}-{rep}")
        with Children() as kids:
            server = NginxRtmp(kids, folder)
            prod = kids.start(self._producer(producer, server.urls(count), clip), name=producer)
            if prod.finish(3 * seconds + 120) != 0:
                raise BenchError(f"{producer} failed:\n{prod.stderr_text()}")
            records = server.stop()
        if len(records) != count:
            raise BenchError(f"{len(records)} of {count} streams recorded")
        got = [frame_counts(path) for path in records]
        return figures(got, [os.path.getsize(path) for path in records],
                       frame_counts(clip), prod.rusage, self.media.duration(clip))

    def run(self, runs, quick, progress):
        seconds = seconds_of(quick)
        rep = iter(range(len(COUNTS) * len(PRODUCERS) * runs))  # each run its own folder
        rows = [((count, producer), f"×{count} {producer}",
                 lambda c=count, p=producer: self.measure(p, c, seconds, next(rep)),
                 lambda f: f"{100 * f['delivered']:.2f}% delivered, "
                           f"{f['cpu_per_gb']:.2f} CPU s/GB, {f['rss_mb']:.1f} MB")
                for count in COUNTS for producer in PRODUCERS]
        return seconds, measure_rows("rtmp", runs, rows, progress)


def figures(got, sizes, sent, usage, media_s):
    """got: frame counts per recorded stream; sizes: their FLV bytes; sent: the clip's."""
    per_stream = sum(sent.values())
    if sum(sizes) == 0 or per_stream == 0:
        raise BenchError(f"nothing recorded: {got}")
    cpu = usage.ru_utime + usage.ru_stime
    out = {
        "delivered": sum(sum(g.values()) for g in got) / (per_stream * len(got)),
        "worst": min(sum(g.values()) for g in got) / per_stream,
        "cpu_per_gb": cpu / (sum(sizes) / 1e9),
        "cpu_share": cpu / media_s,
        "rss_mb": usage.ru_maxrss / 1024,
        "recorded_bytes": sum(sizes) / len(sizes),
    }
    for kind in KINDS:
        out[f"{kind}_got"] = min(g[kind] for g in got)
        out[f"{kind}_sent"] = sent[kind]
    return out


def table(seconds, results):
    """The rows, and the issue's two goals checked against them."""
    lines = ["| Destinations | Sender | Delivered | Video frames (worst stream) | Audio frames "
             "(worst stream) | Sender CPU s/GB | Share of one core | Peak RSS MB "
             "| CPU s/GB ÷ FFmpeg |",
             "|---|---|---|---|---|---|---|---|---|"]
    ratios = []
    complete = []
    for count in COUNTS:
        ffmpeg = median_of(results.get((count, PEER_FFMPEG), []))
        for producer in PRODUCERS:
            m = median_of(results.get((count, producer), []))
            name = f"**{producer}**" if producer == PROJECT else producer
            if m is None:
                lines.append(f"| {count} | {name} | failed | | | | | | |")
                continue
            delivered = f"{100 * m['delivered']:.2f}%"
            if m["worst"] < m["delivered"] - 0.00005:
                delivered += f" (worst {100 * m['worst']:.2f}%)"
            ratio = "—"
            if producer != PEER_FFMPEG and ffmpeg is not None:
                r = m["cpu_per_gb"] / ffmpeg["cpu_per_gb"]
                ratio = f"{r:.2f}×"
                if producer == PROJECT:
                    ratios.append(r)
            if producer == PROJECT:
                complete.append(m["delivered"] >= 1.0)
            lines.append(f"| {count} | {name} | {delivered} | "
                         f"{m['video_got']:.0f} / {m['video_sent']:.0f} | "
                         f"{m['audio_got']:.0f} / {m['audio_sent']:.0f} | "
                         f"{m['cpu_per_gb']:.2f} | {100 * m['cpu_share']:.1f}% | "
                         f"{m['rss_mb']:.1f} | {ratio} |")
    notes = [
        f"Goal: CPU s/GB at most FFmpeg's: "
        f"{'met' if ratios and max(ratios) <= 1.0 else 'not met'} "
        f"(libSluice ÷ FFmpeg {', '.join(f'{r:.2f}' for r in ratios) or 'n/a'}).",
        f"Goal: 100 % delivered: {'met' if complete and all(complete) else 'not met'} "
        f"({sum(complete)} of {len(complete)} libSluice rows complete).",
        f"Clip {seconds} s at real-time pace into nginx-rtmp; frames as recorded by nginx "
        f"against the clip's; medians of the runs that completed.",
    ]
    return "\n".join(lines) + "\n\n" + "\n".join(f"- {n}" for n in notes)

