"""The one table of scripts/bench, in Markdown: medians of the repetitions, and ratios taken
inside each repetition (side by side) before their median."""

from statistics import median

from .casting import PEER_GST, PROJECT
from .procs import BenchError


def measure_rows(label, runs, rows, progress):
    """Each row measured once per run, in order: rows are (key, name, measure, summary), where
    measure() returns the row's figures and summary(figures) their progress line. A row that
    fails keeps its reason and the others go on. Returns {key: [figures of each run]}."""
    results = {}
    for rep in range(runs):
        for key, name, measure, summary in rows:
            try:
                f = measure()
            except BenchError as error:
                progress(f"{label} {rep + 1}/{runs}: {name} failed: "
                         f"{str(error).splitlines()[0]}")
                results.setdefault(key, []).append({"failed": str(error)})
                continue
            results.setdefault(key, []).append(f)
            progress(f"{label} {rep + 1}/{runs}: {name}: {summary(f)}")
    return results


def median_of(rows):
    """The median of every figure over the runs that completed (rows without "failed"), or
    None when none did."""
    done = [r for r in rows if "failed" not in r]
    if not done:
        return None
    return {k: median(r[k] for r in done) for k in done[0]}


def _fmt(value, digits=1):
    if value is None:
        return "n/a"
    if value >= 100:
        return f"{value:.0f}"
    return f"{value:.{digits}f}"


def _pct(value):
    return "n/a" if value is None else f"{100 * value:.1f}%"


def casting_table(cases, runs):
    """runs: {(case key, producer): [figures per repetition]}"""
    lines = ["| Case | Clip | Sender | × real time | Delivered | CPU user s/GB | CPU sys s/GB "
             "| Peak RSS MB | Speed ÷ libSluice | CPU ÷ libSluice |",
             "|---|---|---|---|---|---|---|---|---|---|"]
    for case in cases:
        ours = runs.get((case.key, PROJECT), [])
        for producer in case.producers:
            rows = runs.get((case.key, producer), [])
            if not rows:
                continue
            m = {k: median(r[k] for r in rows) for k in
                 ("xrt", "xrt_delivered", "user_per_gb", "sys_per_gb", "rss_mb", "delivered",
                  "worst")}
            delivered = _pct(m["delivered"])
            if m["worst"] < m["delivered"] - 0.001:
                delivered += f" (worst {_pct(m['worst'])})"
            speed = m["xrt"] if m["delivered"] > 0.999 else None
            xrt = _fmt(m["xrt"]) if speed is not None else \
                f"{_fmt(m['xrt'])} ({_fmt(m['xrt_delivered'])} delivered)"
            if producer == PROJECT or not ours:
                speed_ratio = cpu_ratio = "—"
            else:
                pairs = list(zip(rows, ours))
                speed_ratio = _fmt(median(p["xrt_delivered"] / o["xrt_delivered"]
                                          for p, o in pairs), 2) + "×"
                cpu_ratio = _fmt(median(p["cpu_per_gb"] / o["cpu_per_gb"] for p, o in pairs),
                                 2) + "×"
            sender = f"**{producer}**" if producer == PROJECT else producer
            lines.append(f"| {case.key} | {case.seconds} s | {sender} | {xrt} | {delivered} | "
                         f"{_fmt(m['user_per_gb'], 2)} | {_fmt(m['sys_per_gb'], 2)} | "
                         f"{_fmt(m['rss_mb'])} | {speed_ratio} | {cpu_ratio} |")
    return "\n".join(lines)


def ceiling_table(c):
    lines = ["| UDP targets, real-time pace | Keeps real time | Worst receiver | Last datagram "
             "after the last write | Sender CPU (share of one core) | Peak RSS MB |",
             "|---|---|---|---|---|---|"]
    for p in c["probes"]:
        lines.append(f"| {p['count']} | {'yes' if p['keeps'] else '**no**'} | "
                     f"{_pct(p['worst'])} | {1000 * p['lag_s']:.0f} ms | "
                     f"{100 * p['cpu_share']:.0f}% | {_fmt(p['rss_mb'])} |")
    lines.append(f"| **Largest count that keeps real time ({c['seconds']:.0f} s clip)** | "
                 f"**{c['ceiling']}** | | | | |")
    return "\n".join(lines)


def target_adds_table(r):
    return "\n".join([
        "| Targets (UDP caster) | All adds | All removes | One add, first tenth | "
        "One add, last tenth |",
        "|---|---|---|---|---|",
        f"| {r['count']} | {1000 * r['adds_s']:.1f} ms | {1000 * r['removes_s']:.1f} ms | "
        f"{r['first_tenth_us']:.1f} µs | {r['last_tenth_us']:.1f} µs |"])


def delivery_table(rows):
    """One line per sender and clip (bench/runner/casting.py delivery): the worst of the
    sampled receivers, the spread of their delay factors, the sender's CPU."""
    lines = ["| Clip | Targets | Sender | Priority-1 errors | Max PCR gap ms | PCR accuracy ns "
             "(max) | Delay factor ms (min–max) | Largest burst (datagrams) | CPU, share of "
             "one core | CPU ÷ GStreamer | Last datagram after the last write | Other "
             "receivers complete | Machine's latest wake-up ms (seconds > 2 ms) |",
             "|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
    gst = {(r["clip"], r["proto"]): r["cpu_share"] for r in rows
           if r.get("producer") == PEER_GST}
    for row in rows:
        checks = row["receivers"]
        factors = [r.get("delivery", {}).get("delay_factor_ms", 0) for r in checks]
        # A variable stream has no single rate to be accurate to (mpegtsmux pads its
        # buffers with null packets all the same).
        accuracy = "n/a (variable)" if not row["muxrate"] else \
            f"{max(r.get('max_pcr_accuracy_ns', 0) for r in checks):.0f}"
        complete = (row["sink_min_bytes"] == row["sink_max_bytes"] and row["sink_drops"] == 0
                    and all(r["lost_packets"] == 0 for r in checks))
        producer = row.get("producer", PROJECT)
        reference = gst.get((row["clip"], row["proto"]))
        ratio = "—" if producer == PEER_GST or not reference else \
            f"{row['cpu_share'] / reference:.2f}×"
        lag = "n/a" if row["lag_s"] is None else f"{1000 * row['lag_s']:.0f} ms"
        sender = f"**{producer}**" if producer.startswith(PROJECT) else producer
        if row.get("realtime"):
            sender += " (RT)"
        wake = row.get("wake")
        late = sum(1 for w in wake["worst_per_s_ms"] if w > 2) if wake else 0
        woken = (f"{wake['worst_ms']:.1f} ({late} of {len(wake['worst_per_s_ms'])})"
                 if wake else "—")
        lines.append(
            f"| {row['clip']}, {row['seconds']:.0f} s | {row['proto'].upper()} ×{row['count']} "
            f"| {sender} | {sum(r['priority1']['total'] for r in checks)} | "
            f"{max(r['max_pcr_interval_ms'] for r in checks):.1f} | {accuracy} | "
            f"{min(factors):.1f}–{max(factors):.1f} | "
            f"{max(r.get('delivery', {}).get('largest_burst', 0) for r in checks)} | "
            f"{100 * row['cpu_share']:.0f}% | {ratio} | {lag} | "
            f"{'yes' if complete else '**no**'} | {woken} |")
    return "\n".join(lines)


def stalled_table(s):
    runs = s["runs"]
    base = runs[0]
    many = runs[s["stalled"]]
    return "\n".join([
        "| HTTP caster at real-time pace | Clip | Peak RSS MB | Stalled clients still connected "
        "at the end |", "|---|---|---|---|",
        f"| no client | {s['seconds']} s | {_fmt(base['rss_mb'])} | — |",
        f"| {s['stalled']} clients that request and never read | {s['seconds']} s | "
        f"{_fmt(many['rss_mb'])} | {many['still_open']} |",
    ])


def slow_client_table(pairs_by_case):
    """pairs_by_case: {case: [(plain figures, stalled figures)] per repetition}."""
    lines = ["| HTTP run | Clip | Fast clients × real time (delivered) | Fast clients delivered "
             "| Peak RSS MB | Stalled client received |",
             "|---|---|---|---|---|---|"]
    for case, pairs in pairs_by_case.items():
        lines += _slow_rows(case, pairs)
    return "\n".join(lines)


def _slow_rows(case, pairs):
    def row(name, rows, stalled):
        xrt = median(r["xrt_delivered"] for r in rows)
        delivered = median(r["delivered"] for r in rows)
        worst = median(r["worst"] for r in rows)
        rss = median(r["rss_mb"] for r in rows)
        got = "—"
        if stalled:
            got_bytes = median(sum(r["stalled_bytes"]) for r in rows)
            got = f"{got_bytes / 1e3:.0f} kB"
        return (f"| {name} | {case.seconds} s | {_fmt(xrt)} | {_pct(delivered)} "
                f"(worst {_pct(worst)}) | {_fmt(rss)} | {got} |")
    plain = [p for p, _ in pairs]
    stalled = [s for _, s in pairs]
    ratio = median(s["xrt_delivered"] / p["xrt_delivered"] for p, s in pairs)
    pace = "real-time pace" if case.paced else "as fast as possible"
    return [
        row(f"16 fast clients, {pace}", plain, False),
        row(f"16 fast + 1 that never reads, {pace}", stalled, True),
        f"| ... fast clients' speed with the stalled client ÷ without | | {ratio:.2f}× | | | |",
    ]


def web_table(results, connections_list, endpoints):
    lines = ["| Request | Connections | Answered connections | Requests/s | p50 ms | p99 ms "
             "| Errors | Req/s ÷ static file |", "|---|---|---|---|---|---|---|---|"]
    static_label = endpoints[-1][0]
    for connections in connections_list:
        static_rows = results.get((static_label, connections), [])
        for label, *_ in endpoints:
            rows = results.get((label, connections), [])
            if not rows:
                continue
            rps = median(r["rps"] for r in rows)
            p50 = median(r["p50_us"] for r in rows) / 1000
            p99 = median(r["p99_us"] for r in rows) / 1000
            errors = median(r["errors"] for r in rows)
            kinds = sorted({k for r in rows for k in r["error_kinds"]})
            errors_text = f"{errors:.0f}" + (f" ({', '.join(kinds)})" if kinds else "")
            answered = median(r.get("answered_connections", 0) for r in rows)
            if label == static_label or not static_rows:
                ratio = "—"
            else:
                ratio = _fmt(median(r["rps"] / s["rps"] for r, s in zip(rows, static_rows)
                                    if s["rps"] > 0), 2) + "×"
            lines.append(f"| {label} | {connections} | {answered:.0f} | {rps:.0f} | {p50:.2f} | "
                         f"{p99:.2f} | {errors_text} | {ratio} |")
    return "\n".join(lines)


def footprint_table(sizes, quillon, peerlo_kb, casters):
    def mb(kb):
        return "n/a" if kb is None else f"{kb / 1024:.1f} MB"
    lines = ["| Item | Size |", "|---|---|"]
    for name, (stripped, unstripped) in sizes.items():
        lines.append(f"| `{name}` stripped (unstripped Release) | {stripped / 1024:.0f} KiB "
                     f"({unstripped / 1024:.0f} KiB) |")
    if quillon:
        lines.append(f"| `Quillon` RSS idle | {mb(quillon['idle_kb'])} |")
        lines.append(f"| `Quillon` RSS peak under the web load | {mb(quillon['load_peak_kb'])} |")
    lines.append(f"| `peerlo` RSS idle (in a private network namespace) | {mb(peerlo_kb)} |")
    if casters:
        lines.append(f"| Caster process: libraries loaded, before `sluice_init` | "
                     f"{mb(casters['rss_loaded_kb'])} |")
        lines.append(f"| ... after `sluice_init` | {mb(casters['rss_init_kb'])} |")
        lines.append(f"| ... with one open caster of each protocol (UDP, RTP, TCP, HTTP) | "
                     f"{mb(casters['rss_four_casters_kb'])} |")
    return "\n".join(lines)
