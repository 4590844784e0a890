"""The web API under load: Quillon on a virtual board, driven by bench-http-load (digest
authentication), next to civetweb serving a static file of the same size from the same
server."""

import os
import shutil
import socket
import threading
import time

from .procs import BenchError, Children, run, status_kb

USER, PASSWORD = "admin", "740163"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


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

    def _wait_listening(self, port, proc, timeout=15):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if proc.p.poll() is not None:
                raise BenchError("Quillon ended at start:\n" + proc.stderr_text())
            with socket.socket() as s:
                if s.connect_ex(("127.0.0.1", port)) == 0:
                    return
            time.sleep(0.05)
        raise BenchError("Quillon does not listen")

    def endpoints(self):
        """(label, method, path, body file) of every load, the static file last."""
        return [
            ("GET /api/video?index=0", "GET", "/api/video?index=0", None),
            ("GET /api/stream-status", "GET", "/api/stream-status", None),
            ("POST /api/video?index=1", "POST", "/api/video?index=1", self.post_body),
            (f"GET static file ({self.static_bytes} B)", "GET", "/bench-video.json", None),
        ]

    def run(self, connections_list, seconds, repetitions, progress):
        """Every load for every connection count, repeated; results keyed by
        (label, connections), plus Quillon's resident sizes."""
        shutil.rmtree(self.board, ignore_errors=True)
        run([os.path.join(self.repo, "tools", "virtual-board"), self.board])
        port = free_port()
        env = dict(os.environ, BOARD_ROOT=self.board, QUILLON_HTTP_PORT=str(port))
        results = {}
        with Children() as kids:
            quillon = kids.start([os.path.join(self.bin, "Quillon"), "1"], env=env,
                                 name="Quillon")
            self._wait_listening(port, quillon)
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
                        for label, method, path, body_file in self.endpoints():
                            argv = [os.path.join(self.bin, "bench-http-load"),
                                    "--url", f"http://127.0.0.1:{port}{path}",
                                    "--connections", str(connections),
                                    "--duration-ms", str(int(seconds * 1000)),
                                    "--method", method, "--user", USER, "--password", PASSWORD]
                            if body_file:
                                argv += ["--body-file", body_file]
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
