"""Child processes for the benchmarks: line-oriented talk on stdin/stdout, resource usage
(CPU, peak RSS) at exit, and no process left behind: every child is ended by its own pid."""

import json
import os
import queue
import signal
import subprocess
import tempfile
import threading
import time


class BenchError(RuntimeError):
    pass


class Proc:
    """One child. Its stdout lines are read by a thread; stderr goes to a temporary file
    shown when something fails."""

    def __init__(self, argv, env=None, name=None):
        self.name = name or os.path.basename(argv[0])
        self.argv = argv
        self._stderr = tempfile.TemporaryFile(mode="w+")
        self.p = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=self._stderr, text=True, env=env, bufsize=1)
        self.lines = queue.Queue()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        self.status = None
        self.rusage = None

    def _read(self):
        for line in self.p.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def stderr_text(self):
        self._stderr.seek(0)
        return self._stderr.read()[-2000:]

    def expect(self, prefix, timeout):
        """The next stdout line starting with prefix (other lines are skipped)."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise BenchError(f"{self.name}: no '{prefix}' within {timeout:.0f} s\n"
                                 + self.stderr_text())
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                continue
            if line is None:
                raise BenchError(f"{self.name}: ended before '{prefix}'\n" + self.stderr_text())
            if line.startswith(prefix):
                return line

    def remaining_lines(self):
        """The stdout lines not taken by expect (after finish: everything left)."""
        lines = []
        while not self.lines.empty():
            line = self.lines.get_nowait()
            if line is not None:
                lines.append(line)
        return lines

    def expect_json(self, timeout):
        return json.loads(self.expect("{", timeout))

    def send(self, text):
        try:
            self.p.stdin.write(text + "\n")
            self.p.stdin.flush()
        except (BrokenPipeError, OSError):
            pass

    def close_stdin(self):
        try:
            self.p.stdin.close()
        except OSError:
            pass

    def finish(self, timeout):
        """Waits for the exit (killing the child after timeout) and records its resource
        usage; returns the exit status."""
        deadline = time.monotonic() + timeout
        while self.status is None:
            pid, status, usage = os.wait4(self.p.pid, os.WNOHANG)
            if pid == self.p.pid:
                self.status = os.waitstatus_to_exitcode(status)
                self.rusage = usage
                self.p.returncode = self.status  # reaped here, not by Popen
                break
            if time.monotonic() > deadline:
                self.kill()
                raise BenchError(f"{self.name}: still running after {timeout:.0f} s\n"
                                 + self.stderr_text())
            time.sleep(0.005)
        self._reader.join(timeout=5)
        return self.status

    def kill(self):
        if self.status is None:
            try:
                os.kill(self.p.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            _, status, usage = os.wait4(self.p.pid, 0)
            self.status = os.waitstatus_to_exitcode(status)
            self.rusage = usage
            self.p.returncode = self.status


class Children:
    """Every child started in a with-block is killed at its end if it still runs."""

    def __init__(self):
        self.procs = []

    def start(self, argv, env=None, name=None):
        proc = Proc(argv, env=env, name=name)
        self.procs.append(proc)
        return proc

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for proc in self.procs:
            proc.kill()
        return False


def run(argv, timeout=600, env=None, check=True):
    """A short command; its stdout."""
    done = subprocess.run(argv, capture_output=True, text=True, timeout=timeout, env=env)
    if check and done.returncode != 0:
        raise BenchError(f"{' '.join(argv)} failed ({done.returncode}):\n{done.stderr[-2000:]}")
    return done.stdout


def status_kb(pid, field):
    """A Vm... line of /proc/PID/status in KiB, or None."""
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None
