#!/usr/bin/env python3
"""Soak test: one cmdclient session of 1,000,000 short commands against the
demo server on 127.0.0.1. Every reply must arrive, byte for byte; the peak
RSS after the last command may exceed that after the first 10,000 by at most
64 KiB; the client holds the same descriptors at both points.

    CMDCLIENT=... CMDCLIENT_DEMO_SERVER=... run_soak.py [--commands N]
"""

import argparse
import hashlib
import os
import re
import select
import subprocess
import sys
import threading
import time

CLIENT = os.environ.get("CMDCLIENT", "")
SERVER = os.environ.get("CMDCLIENT_DEMO_SERVER", "")
DEADLINE = 280  # seconds for the whole session; CI allows 5 minutes
WARM_UP = 10_000
GROWTH_LIMIT = 64 * 1024
COMMANDS = (b"regs", b"mem 0 8")
PROMPT = b"Ok> "


def status_field(pid, field):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"^%s:\s+(\d+) kB" % field, f.read(), re.M).group(1)) * 1024


def descriptors(pid):
    return sorted(os.listdir("/proc/%d/fd" % pid))


class Reader(threading.Thread):
    """Reads the client's stdout, hashing it and counting prompts; a test
    thread waits for a count with `wait_for`."""

    def __init__(self, stream):
        super().__init__(daemon=True)
        self.stream = stream
        self.digest = hashlib.sha256()
        self.prompts = 0
        self.size = 0
        self._tail = b""
        self._changed = threading.Condition()

    def run(self):
        while True:
            piece = os.read(self.stream.fileno(), 1 << 20)
            with self._changed:
                if not piece:
                    self.prompts = -1 if self.prompts >= 0 else self.prompts
                    self._changed.notify_all()
                    return
                self.digest.update(piece)
                self.size += len(piece)
                joined = self._tail + piece
                self.prompts += joined.count(PROMPT) - self._tail.count(PROMPT)
                self._tail = joined[-(len(PROMPT) - 1):]
                self._changed.notify_all()

    def wait_for(self, prompts, end):
        with self._changed:
            while 0 <= self.prompts < prompts:
                if not self._changed.wait(max(0, end - time.monotonic())):
                    raise RuntimeError("%d of %d replies after the deadline" % (self.prompts, prompts))
            if self.prompts < 0:
                raise RuntimeError("the client ended before reply %d" % prompts)


def start_server():
    server = subprocess.Popen([SERVER, "0"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    line = server.stdout.readline() if select.select([server.stdout], [], [], 10)[0] else b""
    found = re.search(rb"port (\d+)", line)
    if not found:
        server.kill()
        raise RuntimeError("the demo server did not start: %r" % line)
    return server, int(found.group(1))


def replies(port):
    """What the demo server answers to each of COMMANDS, from a short session."""
    stdin = b"".join(c + b"\n" for c in COMMANDS)
    out = subprocess.run([CLIENT, str(port)], input=stdin, capture_output=True, timeout=30).stdout
    return out.split(PROMPT)[1:1 + len(COMMANDS)], out.split(PROMPT)[0]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--commands", type=int, default=1_000_000)
    count = parser.parse_args().commands
    if not CLIENT or not SERVER:
        sys.exit("CMDCLIENT and CMDCLIENT_DEMO_SERVER must name the client and the demo server")
    started = time.monotonic()
    end = started + DEADLINE
    server, port = start_server()
    client = None
    try:
        bodies, banner = replies(port)
        expected = hashlib.sha256(banner + PROMPT)
        for i in range(count):
            expected.update(bodies[i % len(COMMANDS)] + PROMPT)
        expected.update(b"\n")

        client = subprocess.Popen([CLIENT, str(port)], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        reader = Reader(client.stdout)
        reader.start()
        lines = [c + b"\n" for c in COMMANDS]

        def send(first, last):
            block = b"".join(lines[i % len(lines)] for i in range(first, last))
            try:
                client.stdin.write(block)
                client.stdin.flush()
            except BrokenPipeError:
                status = client.wait(10)
                raise RuntimeError("the client ended early, status %d, stderr %r"
                                   % (status, client.stderr.read()[-200:])) from None

        warm = min(WARM_UP, count)
        send(0, warm)
        reader.wait_for(1 + warm, end)
        early_peak, early_fds = status_field(client.pid, "VmHWM"), descriptors(client.pid)
        for first in range(warm, count, 100_000):
            send(first, min(count, first + 100_000))
        reader.wait_for(1 + count, end)
        late_peak, late_fds = status_field(client.pid, "VmHWM"), descriptors(client.pid)
        client.stdin.write(b"quit\n")
        client.stdin.close()
        status = client.wait(max(1, end - time.monotonic()))
        reader.join(10)
        stderr = client.stderr.read()
    finally:
        for process in (client, server):
            if process is not None and process.poll() is None:
                process.kill()
            if process is not None:
                process.wait()

    seconds = time.monotonic() - started
    problems = []
    if status != 0 or stderr:
        problems.append("status %d, stderr %r" % (status, stderr[-200:]))
    if reader.digest.digest() != expected.digest():
        problems.append("the output (%d bytes) is not every reply in order" % reader.size)
    if late_peak - early_peak > GROWTH_LIMIT:
        problems.append("peak RSS grew by %d KiB" % ((late_peak - early_peak) // 1024))
    if late_fds != early_fds:
        problems.append("descriptors %s after %d commands, %s at the end" % (early_fds, warm, late_fds))
    print("soak: %d commands in %.0f s (%.1f us each); peak RSS %d KiB after %d, %d KiB at the end; "
          "descriptors %s" % (count, seconds, seconds * 1e6 / max(1, count), early_peak // 1024, warm,
                              late_peak // 1024, " ".join(late_fds)))
    for problem in problems:
        print("FAILED: %s" % problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
