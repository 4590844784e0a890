"""Sizes of the stripped deliverables and resident sizes of idle processes."""

import json
import os
import shutil
import subprocess
import tempfile
import time

from .procs import BenchError, run, status_kb

# 9002 in the hexadecimal of /proc/net/udp: peerlo's discovery port.
PEERLO_PORT_HEX = ":232A"


def stripped_sizes(bindir, libdir):
    sizes = {}
    with tempfile.TemporaryDirectory() as tmp:
        for name, path in (("Quillon", os.path.join(bindir, "Quillon")),
                           ("peerlo", os.path.join(bindir, "peerlo")),
                           ("libSluice.so", os.path.join(libdir, "libSluice.so"))):
            out = os.path.join(tmp, name)
            run(["strip", "--strip-unneeded", "-o", out, path])
            sizes[name] = (os.path.getsize(out), os.path.getsize(path))
    return sizes


def caster_rss(bindir):
    out = run([os.path.join(bindir, "bench-cast"), "--footprint"], timeout=60)
    return json.loads(out.strip().splitlines()[-1])


def peerlo_idle_rss(repo, bindir, workdir):
    """peerlo answers broadcasts, so it runs only inside a private network namespace made
    here (a veth pair inside it gives it its eth0) and deleted afterwards. None without
    namespaces (not root)."""
    if os.geteuid() != 0 or shutil.which("ip") is None:
        return None
    ns = f"benchpeerlo{os.getpid()}"
    board = os.path.join(workdir, "peerlo-board")
    shutil.rmtree(board, ignore_errors=True)
    run([os.path.join(repo, "tools", "virtual-board"), board])
    setup = [
        ["ip", "netns", "add", ns],
        ["ip", "-n", ns, "link", "set", "lo", "up"],
        ["ip", "-n", ns, "link", "add", "eth0", "type", "veth", "peer", "name", "eth0p"],
        ["ip", "-n", ns, "addr", "add", "192.168.77.10/24", "brd", "+", "dev", "eth0"],
        ["ip", "-n", ns, "link", "set", "eth0", "up"],
        ["ip", "-n", ns, "link", "set", "eth0p", "up"],
        ["ip", "-n", ns, "route", "add", "default", "via", "192.168.77.1"],
    ]
    proc = None
    try:
        for argv in setup:
            run(argv)
        # ip netns exec and env both exec in place: the pid is peerlo's own.
        proc = subprocess.Popen(["ip", "netns", "exec", ns, "env", f"BOARD_ROOT={board}",
                                 os.path.join(bindir, "peerlo"), "1"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                with open(f"/proc/{proc.pid}/net/udp") as udp:
                    if PEERLO_PORT_HEX in udp.read():
                        break
            except OSError:
                pass
            if proc.poll() is not None:
                raise BenchError("peerlo ended at start")
            time.sleep(0.05)
        time.sleep(0.5)
        return status_kb(proc.pid, "VmRSS")
    finally:
        if proc is not None and proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        subprocess.run(["ip", "netns", "del", ns], capture_output=True)
