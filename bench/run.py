#!/usr/bin/env python3
"""Runs every benchmark and prints one Markdown table (see bench/README.md). Started by
scripts/bench, which builds the programs first; run it directly to repeat a part:

    bench/run.py --bin build-bench/bin --lib build-bench/lib --work build-bench [--quick]
                 [--runs N]
                 [--only casting,srt,ceiling,delivery,slow,web,footprint,targets,rtsp,rtmp,hls]
"""

import argparse
import datetime
import json
import os
import platform
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from runner import casting, footprint, httpout, report, rtmp, rtsp  # noqa: E402
from runner.media import Media  # noqa: E402
from runner.procs import run  # noqa: E402
from runner.web import WebBench  # noqa: E402

PARTS = ("casting", "srt", "ceiling", "delivery", "slow", "web", "footprint", "targets", "rtsp",
         "rtmp", "hls")


def progress(text):
    print(f"[{time.strftime('%H:%M:%S')}] {text}", file=sys.stderr, flush=True)


def first_line(argv):
    try:
        out = subprocess.run(argv, capture_output=True, text=True).stdout.strip()
        return out.splitlines()[0] if out else "n/a"
    except OSError:
        return "n/a"


def machine():
    cpu = "n/a"
    for line in run(["lscpu"]).splitlines():
        if line.startswith("Model name:"):
            cpu = line.split(":", 1)[1].strip()
    with open("/etc/debian_version") as version:
        debian = version.read().strip()
    return {
        "cpu": cpu, "cores": os.cpu_count(), "kernel": platform.release(), "debian": debian,
        "date": datetime.datetime.now().strftime("%Y-%m-%d %H:%M"),
        "load_before": os.getloadavg(),
        "ffmpeg": first_line(["ffmpeg", "-version"]),
        "gstreamer": first_line(["gst-launch-1.0", "--version"]),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--lib", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--runs", type=int)
    parser.add_argument("--only", default=",".join(PARTS))
    args = parser.parse_args()
    parts = set(args.only.split(","))
    runs = args.runs or (1 if args.quick else 3)
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    media = Media(os.path.join(args.work, "media"))
    info = machine()
    started = time.monotonic()
    sections = []
    raw = {"machine": info, "runs": runs, "quick": args.quick}

    progress("preparing the clip (made once, then reused)")
    media.clip(casting.cases(args.quick)[0].seconds)
    caster = casting.Caster(args.bin, media, args.work)

    if "casting" in parts or "slow" in parts:
        cases = casting.cases(args.quick)
        results = {}
        slow_pairs = {}
        slow_cases = [casting.Case("http", 16, 10 if args.quick else 60, [casting.PROJECT]),
                      casting.Case("http", 16, 3 if args.quick else 10, [casting.PROJECT],
                                   paced=True)]
        for rep in range(runs):
            if "casting" in parts:
                for case in cases:
                    for producer in case.producers:
                        figures = caster.measure(producer, case)
                        results.setdefault((case.key, producer), []).append(figures)
                        progress(f"cast {rep + 1}/{runs}: {case.key} {producer}: "
                                 f"{figures['xrt']:.1f}× real time, "
                                 f"{100 * figures['delivered']:.1f}% delivered")
            if "slow" in parts:
                for slow_case in slow_cases:
                    plain = caster.measure(casting.PROJECT, slow_case)
                    stalled = caster.measure(casting.PROJECT, slow_case, stalled=1)
                    slow_pairs.setdefault(slow_case, []).append((plain, stalled))
                    progress(f"slow client {rep + 1}/{runs} ({slow_case.key}): "
                             f"{plain['xrt_delivered']:.1f} vs {stalled['xrt_delivered']:.1f}× "
                             f"real time delivered")
        if "casting" in parts:
            sections.append(("Casting library", report.casting_table(cases, results)))
            raw["casting"] = {f"{k[0]} {k[1]}": v for k, v in results.items()}
        if "slow" in parts:
            stalled = caster.stalled_rss(1000, 3 if args.quick else 10)
            progress(f"1000 stalled HTTP clients: {stalled['runs'][1000]['rss_mb']:.1f} MB peak")
            sections.append(("Slow-client isolation (HTTP, libSluice)",
                             report.slow_client_table(slow_pairs) + "\n\n" +
                             report.stalled_table(stalled)))
            raw["stalled"] = stalled
            raw["slow"] = {case.key: pairs for case, pairs in slow_pairs.items()}

    if "srt" in parts:
        srt_cases = casting.srt_cases(args.quick)
        srt_results = {}
        for rep in range(runs):
            for case in srt_cases:
                for producer in case.producers:
                    figures = caster.measure(producer, case)
                    srt_results.setdefault((case.key, producer), []).append(figures)
                    progress(f"srt {rep + 1}/{runs}: {case.key} {producer}: "
                             f"{100 * figures['delivered']:.1f}% delivered, "
                             f"{figures['cpu_per_gb']:.2f} CPU s/GB")
        sections.append(("SRT (listener, real-time pace)",
                         report.casting_table(srt_cases, srt_results)))
        raw["srt"] = {f"{k[0]} {k[1]}": v for k, v in srt_results.items()}

    if "rtsp" in parts:
        bench = rtsp.RtspBench(args.bin, repo, media)
        seconds, rtsp_results = bench.run(runs, args.quick, progress)
        sections.append(("RTSP (real-time pace, libSluice against GStreamer's RTSP server)",
                         rtsp.table(seconds, rtsp_results)))
        raw["rtsp"] = {f"{k[0]} {k[1]} {k[2]}": v for k, v in rtsp_results.items()}

    if "rtmp" in parts:
        bench = rtmp.RtmpBench(args.bin, media, args.work)
        seconds, rtmp_results = bench.run(runs, args.quick, progress)
        sections.append(("RTMP push (real-time pace into nginx-rtmp, libSluice against FFmpeg "
                         "and GStreamer)", rtmp.table(seconds, rtmp_results)))
        raw["rtmp"] = {f"{k[0]} {k[1]}": v for k, v in rtmp_results.items()}
    if "hls" in parts:
        bench = httpout.HttpOutBench(args.bin, media, caster, args.work)
        seconds, hls_results = bench.run(runs, args.quick, progress)
        sections.append((f"HLS and HTTP-FLV ({httpout.CLIENTS} players or clients, real-time "
                         f"pace, libSluice against GStreamer and FFmpeg)",
                         httpout.table(seconds, hls_results)))
        raw["hls"] = {f"{k[0]} {k[1]}": v for k, v in hls_results.items()}

    if "ceiling" in parts:
        counts = [64, 128, 256] if args.quick else [64, 128, 256, 512]
        ceiling = caster.ceiling(3 if args.quick else 10, counts)
        sections.append(("Real-time ceiling of the UDP caster (8 Mbit/s stream)",
                         report.ceiling_table(ceiling)))
        raw["ceiling"] = ceiling

    if "delivery" in parts:
        delivery = caster.delivery(10 if args.quick else 30)
        sections.append(("Real time at the receivers: 64 UDP or RTP targets, 8 sampled by "
                         "ts-check",
                         report.delivery_table(delivery)))
        raw["delivery"] = delivery

    if "targets" in parts:
        adds = caster.target_adds()
        sections.append(("Target changes: 1,000 adds and removes on one UDP caster",
                         report.target_adds_table(adds)))
        raw["targets"] = adds

    quillon_rss = None
    if "web" in parts:
        web = WebBench(repo, args.bin, args.work, sys.stderr)
        connections = [16, 64]
        seconds = 3 if args.quick else 20
        web_results, quillon_rss = web.run(connections, seconds, runs, progress)
        sections.append((f"Web API (Quillon on a virtual board, {seconds} s per load)",
                         report.web_table(web_results, connections, web.endpoints())))
        raw["web"] = {f"{k[0]} {k[1]}": v for k, v in web_results.items()}

    if "footprint" in parts:
        sizes = footprint.stripped_sizes(args.bin, args.lib)
        peerlo_kb = footprint.peerlo_idle_rss(repo, args.bin, args.work)
        casters_rss = footprint.caster_rss(args.bin)
        sections.append(("Footprint", report.footprint_table(sizes, quillon_rss, peerlo_kb,
                                                            casters_rss)))
        raw["footprint"] = {"sizes": sizes, "quillon": quillon_rss, "peerlo_kb": peerlo_kb,
                            "casters": casters_rss}

    info["load_after"] = os.getloadavg()
    minutes = (time.monotonic() - started) / 60
    load = (f"load average {info['load_before'][0]:.2f} before, "
            f"{info['load_after'][0]:.2f} after")
    head = (f"Measured {info['date']} on {info['cpu']}, {info['cores']} cores, Linux "
            f"{info['kernel']}, Debian {info['debian']}; {load}; "
            f"{'--quick, ' if args.quick else ''}median of {runs} run(s); "
            f"{minutes:.0f} min.\n{info['ffmpeg']}; {info['gstreamer']}.")
    text = head + "\n\n" + "\n\n".join(f"### {title}\n\n{table}" for title, table in sections)
    print(text)
    out_dir = os.path.join(args.work, "bench-results")
    os.makedirs(out_dir, exist_ok=True)
    stamp = time.strftime("%Y%m%d-%H%M%S")
    with open(os.path.join(out_dir, f"{stamp}.md"), "w") as out:
        out.write(text + "\n")
    with open(os.path.join(out_dir, f"{stamp}.json"), "w") as out:
        json.dump(raw, out, indent=1, default=str)
    progress(f"results in {out_dir}/{stamp}.md and .json")


if __name__ == "__main__":
    main()
