"""The web API under load: Quillon on a virtual board, driven by bench-http-load (digest
authentication), next to Quillon serving a static file of the same size; also with 200 slow
clients holding connections open, and over HTTPS."""

import os
import shutil
import socket
import threading
import time

from .procs import Children, run, status_kb

USER, PASSWORD = "admin", "740163"


class SlowClients:
    """count connections from 127.0.1.x (16 per address: the most the server lets one address
    hold) that send a request head one byte a second and never finish it, as slowhttptest
    does. The server cuts each off after its header time-out; it is opened again at once, so
    about count stay open for the whole load."""

    PER_ADDRESS = 16

    def __init__(self, port, count=200, interval=1.0):
        self.port, self.count, self.interval = port, count, interval
        self.socks = [None] * count
        self.reopened = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def _open(self, i):
        s = socket.socket()
        s.settimeout(1.0)
        try:
            s.bind((f"127.0.1.{1 + i // self.PER_ADDRESS}", 0))
            s.connect(("127.0.0.1", self.port))
            s.sendall(b"GET /api/video?index=0 HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ")
            return s
        except OSError:
            s.close()
            return None

    def _run(self):
        while not self._stop.is_set():
            for i in range(self.count):
                s = self.socks[i]
                try:
                    if s is None:
                        raise OSError
                    s.sendall(b"x")
                except OSError:
                    if s is not None:
                        s.close()
                        self.reopened += 1
                    self.socks[i] = self._open(i)
            self._stop.wait(self.interval)

    def open_count(self):
        return sum(1 for s in self.socks if s is not None)

    def __enter__(self):
        for i in range(self.count):
            self.socks[i] = self._open(i)
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()
        for s in self.socks:
            if s is not None:
                s.close()
        return False


class RssSampler:
    """Samples a process's resident size while a load runs."""

    def __init__(self, pid, interval=0.2):
        self.pid, self.interval = pid, interval
        self.peak_kb = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def _run(self):
        while not self._stop.is_set():
            self.peak_kb = max(self.peak_kb, status_kb(self.pid, "VmRSS") or 0)
            self._stop.wait(self.interval)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()
        return False


class WebBench:
    def __init__(self, repo, bindir, workdir, log):
        self.repo, self.bin, self.workdir, self.log = repo, bindir, workdir, log
        self.board = os.path.join(workdir, "web-board")

    def _curl(self, port, path, data=None):
        argv = ["curl", "-sS", "--fail", "--digest", "-u", f"{USER}:{PASSWORD}"]
        if data is not None:
            argv += ["--data-binary", f"@{data}", "-H", "Content-Type: application/json"]
        return run(argv + [f"http://127.0.0.1:{port}{path}"], timeout=30)

    @staticmethod
    def _reported_port(proc, label):
        line = proc.expect(label, 15)
        return int(line.split()[-1])

    def endpoints(self):
        """(label, method, path, body file, how) of every load, the static file last; how is
        "plain", "slow" (with SlowClients open) or "https"."""
        return [
            ("GET /api/video?index=0", "GET", "/api/video?index=0", None, "plain"),
            ("GET /api/stream-status", "GET", "/api/stream-status", None, "plain"),
            ("POST /api/video?index=1", "POST", "/api/video?index=1", self.post_body, "plain"),
            ("GET /api/video?index=0, 200 slow connections open", "GET", "/api/video?index=0",
             None, "slow"),
            ("GET /api/video?index=0 over HTTPS", "GET", "/api/video?index=0", None, "https"),
            (f"GET static file ({self.static_bytes} B)", "GET", "/bench-video.json", None,
             "plain"),
        ]

    def run(self, connections_list, seconds, repetitions, progress):
        """Every load for every connection count, repeated; results keyed by
        (label, connections), plus Quillon's resident sizes."""
        shutil.rmtree(self.board, ignore_errors=True)
        run([os.path.join(self.repo, "tools", "virtual-board"), self.board])
        # Ports 0: Quillon binds free ones and reports them.
        env = dict(os.environ, BOARD_ROOT=self.board, QUILLON_HTTP_PORT="0",
                   QUILLON_HTTPS_PORT="0")
        results = {}
        with Children() as kids:
            quillon = kids.start([os.path.join(self.bin, "Quillon"), "1"], env=env,
                                 name="Quillon")
            port = self._reported_port(quillon, "web server listening on port")
            https_port = self._reported_port(quillon, "https listening on port")
            quillon.expect("npt enable:", 15)
            time.sleep(1.0)  # let start-up finish before the idle reading
            idle_kb = status_kb(quillon.p.pid, "VmRSS")
            # The static file holds the very bytes of the main stream's video document, so
            # both answers are the same size.
            body = self._curl(port, "/api/video?index=0")
            web_root = os.path.join(self.board, "root/custom_files/web/website")
            with open(os.path.join(web_root, "bench-video.json"), "w") as out:
                out.write(body)
            self.static_bytes = len(body.encode())
            self.post_body = os.path.join(self.workdir, "bench-post-body.json")
            with open(self.post_body, "w") as out:
                out.write(self._curl(port, "/api/video?index=1"))
            with RssSampler(quillon.p.pid) as sampler:
                for rep in range(repetitions):
                    for connections in connections_list:
                        for label, method, path, body_file, how in self.endpoints():
                            url = (f"https://127.0.0.1:{https_port}{path}" if how == "https"
                                   else f"http://127.0.0.1:{port}{path}")
                            argv = [os.path.join(self.bin, "bench-http-load"),
                                    "--url", url,
                                    "--connections", str(connections),
                                    "--duration-ms", str(int(seconds * 1000)),
                                    "--method", method, "--user", USER, "--password", PASSWORD]
                            if body_file:
                                argv += ["--body-file", body_file]
                            if how == "slow":
                                with SlowClients(port) as slow:
                                    time.sleep(1.0)  # all of them connected and trickling
                                    load = kids.start(argv, name="bench-http-load")
                                    result = load.expect_json(seconds + 120)
                                    load.finish(30)
                                    result["slow_open"] = slow.open_count()
                                    result["slow_reopened"] = slow.reopened
                            else:
                                load = kids.start(argv, name="bench-http-load")
                                result = load.expect_json(seconds + 120)
                                load.finish(30)
                            results.setdefault((label, connections), []).append(result)
                            progress(f"web {rep + 1}/{repetitions}: {label}, {connections} "
                                     f"connections: {result['rps']:.0f} req/s, "
                                     f"{result['errors']} errors")
            peak_kb = max(sampler.peak_kb, status_kb(quillon.p.pid, "VmHWM") or 0)
            quillon.p.terminate()
            quillon.finish(30)
        return results, {"idle_kb": idle_kb, "load_peak_kb": peak_kb}
