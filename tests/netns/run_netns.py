#!/usr/bin/env python3
"""Real-network tests: the demo server in one network namespace, cmdclient in
another, joined by a veth pair (or two TUN devices and a user-space link) with
addresses chosen here, under impairments this kernel offers without netem:
iptables nth drops, a tbf rate limit, MTU 576 and 1280, and reordering with
duplication on the TUN link. Over each, 300+ mixed commands must give output
and files byte-identical to a run over loopback. Two vanished-host cases drop
every packet mid-reply and while a command is unacknowledged: the client must
end through the lost-connection path within the bound (about two minutes).

Needs root and `ip netns`; otherwise it exits with status 77 (skipped) and
says why, unless CMDCLIENT_NETNS_REQUIRED=1. Every namespace it makes (and with
it every rule, qdisc and device in it) is removed afterwards, also on failure,
and any left by an earlier run that was killed is removed at start.

    CMDCLIENT=... CMDCLIENT_DEMO_SERVER=... run_netns.py [--only CASE]
"""

import argparse
import fcntl
import os
import re
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time

CLIENT = os.environ.get("CMDCLIENT", "")
SERVER = os.environ.get("CMDCLIENT_DEMO_SERVER", "")
SKIPPED = 77
PREFIX = "cmdclient-test-"
CASE_DEADLINE = 120
# The documented bound is about two minutes (keepalive, or the unacknowledged
# data timeout); a little more for the probes' own timing.
VANISHED_DEADLINE = 180


def sh(*words, check=True):
    return subprocess.run(words, check=check, capture_output=True, timeout=30)


def command_mix():
    """A fixed mix of 330 commands: console and file replies, radix changes,
    writes to memory and registers, syntax errors, replies from 2 bytes to 45 KB."""
    lines = []
    for i in range(330):
        lines.append([
            "radix %d" % [16, 10, 8, 2][i // 11 % 4],
            "regs",
            "mem %d %d" % (i * 37 % 2048, 64 + i * 53 % 2000),
            "set %s %d" % ("ABCD"[i % 4], i * 12345 & 0xFFFFFFFF),
            "poke %d %d %d 0x%x" % (i % 4000, i % 256, i * 3 % 256, i * 7 % 256),
            "mem 0 4096 > reply-%d.txt" % i,
            "nonsense%d" % i,
            "fill %d %d %d" % (i % 1000, 100 + i, i % 256),
            "mem %d 5000" % (i % 4096),
            "regs > regs-%d.txt" % i,
            "mem 4000 96",
        ][i % 11])
    return ("\n".join(lines) + "\nquit\n").encode()


def start_server(namespace=None):
    """Starts the demo server (inside `namespace` if given); returns it and its port."""
    words = ([] if namespace is None else ["ip", "netns", "exec", namespace]) + [SERVER, "0"]
    server = subprocess.Popen(words, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    ready = select.select([server.stdout], [], [], 10)[0]
    line = server.stdout.readline() if ready else b""
    found = re.search(rb"port (\d+)", line)
    if not found:
        server.kill()
        server.wait()
        raise RuntimeError("the demo server did not start: %r" % line)
    return server, int(found.group(1))


def stop(process):
    if process.poll() is None:
        process.kill()
    process.wait()


def run_client(words, stdin, deadline):
    """Runs the client to its end in a fresh directory: (result, files, seconds)."""
    with tempfile.TemporaryDirectory() as cwd:
        started = time.monotonic()
        result = subprocess.run(words, input=stdin, capture_output=True, cwd=cwd, timeout=deadline)
        files = {}
        for name in os.listdir(cwd):
            with open(os.path.join(cwd, name), "rb") as f:
                files[name] = f.read()
        return result, files, time.monotonic() - started


TUNSETIFF = 0x400454CA
IFF_TUN, IFF_NO_PI = 0x0001, 0x1000


class TunLink:
    """Two TUN devices joined by this process: what one side sends reaches the
    other, with every 7th packet held back behind the next one (reordering)
    and every 11th sent twice (duplication)."""

    def __init__(self, names):
        self.fds = []
        for name in names:
            fd = os.open("/dev/net/tun", os.O_RDWR)
            fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH", name.encode(), IFF_TUN | IFF_NO_PI))
            self.fds.append(fd)
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._pump, daemon=True)
        self._thread.start()

    def _send(self, fd, packet):
        try:
            os.write(fd, packet)
        except OSError:
            pass  # the device is not up yet: a lost packet, as on any link

    def _pump(self):
        count = 0
        held = {fd: None for fd in self.fds}
        while not self._stop.is_set():
            ready = select.select(self.fds, [], [], 0.02)[0]
            if not ready:  # nothing behind a held packet: let it go
                for fd, packet in held.items():
                    if packet is not None:
                        self._send(self._other(fd), packet)
                        held[fd] = None
                continue
            for fd in ready:
                try:
                    packet = os.read(fd, 65536)
                except OSError:
                    return
                count += 1
                out = self._other(fd)
                if count % 7 == 0 and held[fd] is None:
                    held[fd] = packet
                    continue
                self._send(out, packet)
                if count % 11 == 0:
                    self._send(out, packet)
                if held[fd] is not None:
                    self._send(out, held[fd])
                    held[fd] = None

    def _other(self, fd):
        return self.fds[1] if fd == self.fds[0] else self.fds[0]

    def close(self):
        self._stop.set()
        self._thread.join(5)
        for fd in self.fds:
            os.close(fd)


class Link:
    """A server namespace and a client namespace joined by veth (or TUN), the
    demo server running in the first and reachable at `address`:`port`."""

    def __init__(self, index, tun=False):
        tag = "%d-%d" % (os.getpid(), index)
        self.server_ns, self.client_ns = PREFIX + "s" + tag, PREFIX + "c" + tag
        self.server_dev = "cts%d%d" % (os.getpid() % 100000, index)
        self.client_dev = "ctc%d%d" % (os.getpid() % 100000, index)
        self.address = "10.199.%d.1" % index
        self.client_address = "10.199.%d.2" % index
        self.tun = None
        self.server = None
        try:
            self._build(tun)
        except BaseException:
            self.close()
            raise

    def _build(self, tun):
        sh("ip", "netns", "add", self.server_ns)
        sh("ip", "netns", "add", self.client_ns)
        if tun:
            self.tun = TunLink([self.server_dev, self.client_dev])
        else:
            sh("ip", "link", "add", self.server_dev, "type", "veth", "peer", "name", self.client_dev)
        for namespace, device, mine, peer in (
                (self.server_ns, self.server_dev, self.address, self.client_address),
                (self.client_ns, self.client_dev, self.client_address, self.address)):
            sh("ip", "link", "set", device, "netns", namespace)
            if tun:
                sh("ip", "-n", namespace, "addr", "add", mine, "peer", peer, "dev", device)
            else:
                sh("ip", "-n", namespace, "addr", "add", mine + "/24", "dev", device)
            sh("ip", "-n", namespace, "link", "set", device, "up")
            sh("ip", "-n", namespace, "link", "set", "lo", "up")
        self.server, self.port = start_server(self.server_ns)
        # The demo server listens on its namespace's 127.0.0.1: forward the
        # link's address to it.
        self.in_server("sysctl", "-qw", "net.ipv4.conf.%s.route_localnet=1" % self.server_dev)
        self.in_server("iptables", "-t", "nat", "-A", "PREROUTING", "-i", self.server_dev, "-p",
                       "tcp", "--dport", str(self.port), "-j", "DNAT",
                       "--to-destination", "127.0.0.1:%d" % self.port)

    def in_server(self, *words):
        return sh("ip", "netns", "exec", self.server_ns, *words)

    def in_client(self, *words):
        return sh("ip", "netns", "exec", self.client_ns, *words)

    def client_words(self):
        return ["ip", "netns", "exec", self.client_ns, CLIENT, self.address, str(self.port)]

    def vanish(self):
        """The server's host is gone: every packet of the connection is dropped."""
        self.in_server("iptables", "-I", "INPUT", "-p", "tcp", "--dport", str(self.port), "-j", "DROP")
        self.in_server("iptables", "-I", "OUTPUT", "-p", "tcp", "--sport", str(self.port), "-j", "DROP")

    def close(self):
        if self.server is not None:
            stop(self.server)
        if self.tun is not None:
            self.tun.close()
        for namespace in (self.server_ns, self.client_ns):
            sh("ip", "netns", "del", namespace, check=False)


def remove_stale_namespaces():
    """Namespaces left by a run that was killed before it could clean up."""
    listing = sh("ip", "netns", "list").stdout.decode()
    for name in re.findall(r"^(%s[sc](\d+)-\d+)" % re.escape(PREFIX), listing, re.M):
        if not os.path.exists("/proc/%s" % name[1]):
            sh("ip", "netns", "del", name[0], check=False)


def nth_drops(link):
    for run, device in ((link.in_server, link.server_dev), (link.in_client, link.client_dev)):
        run("iptables", "-A", "OUTPUT", "-o", device, "-p", "tcp", "-m", "statistic",
            "--mode", "nth", "--every", "25", "--packet", "0", "-j", "DROP")


def rate_limit(link):
    for run, device in ((link.in_server, link.server_dev), (link.in_client, link.client_dev)):
        run("tc", "qdisc", "add", "dev", device, "root", "tbf", "rate", "8mbit", "burst", "16kb",
            "latency", "100ms")


def mtu(size):
    def apply(link):
        link.in_server("ip", "link", "set", link.server_dev, "mtu", str(size))
        link.in_client("ip", "link", "set", link.client_dev, "mtu", str(size))
    return apply


# name: (TUN link?, impairment)
IMPAIRMENTS = {
    "veth": (False, None),
    "drops": (False, nth_drops),
    "rate": (False, rate_limit),
    "mtu576": (False, mtu(576)),
    "mtu1280": (False, mtu(1280)),
    "reorder_duplicate": (True, None),
}


def loopback_reference(stdin):
    server, port = start_server()
    try:
        result, files, _ = run_client([CLIENT, "127.0.0.1", str(port)], stdin, CASE_DEADLINE)
    finally:
        stop(server)
    if result.returncode != 0 or result.stderr:
        raise RuntimeError("the loopback run failed: %r" % result.stderr)
    return result.stdout, files


def impaired_case(name, index, reference, stdin):
    tun, impairment = IMPAIRMENTS[name]
    link = Link(index, tun=tun)
    try:
        if impairment:
            impairment(link)
        try:
            result, files, seconds = run_client(link.client_words(), stdin, CASE_DEADLINE)
        except subprocess.TimeoutExpired:
            return "no end within %d s" % CASE_DEADLINE, CASE_DEADLINE
        if result.returncode != 0 or result.stderr:
            return "status %d, stderr %r" % (result.returncode, result.stderr[-200:]), seconds
        if result.stdout != reference[0]:
            at = next(i for i, (a, b) in enumerate(zip(result.stdout + b"\0", reference[0])) if a != b)
            return "stdout differs from loopback's at byte %d: %r" % (
                at, result.stdout[max(0, at - 40):at + 40]), seconds
        if files != reference[1]:
            wrong = sorted(n for n in set(files) | set(reference[1]) if files.get(n) != reference[1].get(n))
            return "files differ from loopback's: %s" % wrong[:5], seconds
        return impairment_unseen(name, link), seconds
    finally:
        link.close()


def tcp_counters(link):
    """The client namespace's TcpExt counters."""
    rows = [line.split() for line in link.in_client("cat", "/proc/net/netstat").stdout.decode().splitlines()]
    for names, values in zip(rows[::2], rows[1::2]):
        if names[0] == "TcpExt:":
            return dict(zip(names[1:], map(int, values[1:])))
    return {}


def impairment_unseen(name, link):
    """Why the run proves nothing about its impairment, if it does not: the
    kernel's own counters must show the drops, the reordering and the duplicates."""
    if name == "drops":
        listing = link.in_client("iptables", "-L", "OUTPUT", "-v", "-x", "-n").stdout.decode()
        dropped = sum(int(row.split()[0]) for row in listing.splitlines() if "statistic" in row)
        return None if dropped > 0 else "no packet was dropped"
    if name == "reorder_duplicate":
        counters = tcp_counters(link)
        if counters.get("TCPOFOQueue", 0) == 0 or counters.get("TCPDSACKOldSent", 0) == 0:
            return "the kernel saw no reordering or no duplicate: %r" % {
                k: counters.get(k) for k in ("TCPOFOQueue", "TCPDSACKOldSent")}
    return None


def read_until(client, output, wanted, end):
    """Reads the client's stdout into `output` (a bytearray) until `wanted` matches it."""
    while not wanted(output):
        left = end - time.monotonic()
        if left <= 0 or not select.select([client.stdout], [], [], left)[0]:
            raise RuntimeError("the client's output never reached the expected point")
        piece = os.read(client.stdout.fileno(), 65536)
        if not piece:
            raise RuntimeError("the client ended early: %r" % bytes(output[-200:]))
        output += piece


def vanished_case(name, index):
    """The server's host vanishes mid-reply (a slow one), or just before a
    command that then stays unacknowledged."""
    link = Link(index)
    client = None
    try:
        if name == "vanished_mid_reply":
            link.in_server("tc", "qdisc", "add", "dev", link.server_dev, "root", "tbf", "rate",
                           "256kbit", "burst", "4kb", "latency", "400ms")
        client = subprocess.Popen(link.client_words(), stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=tempfile.gettempdir())
        output = bytearray()
        end = time.monotonic() + 30
        client.stdin.write(b"radix 2\n")
        client.stdin.flush()
        read_until(client, output, lambda o: o.count(b"Ok> ") >= 2, end)
        if name == "vanished_mid_reply":
            before = len(output)
            client.stdin.write(b"mem 0 4096\n")
            client.stdin.flush()
            read_until(client, output, lambda o: len(o) > before + 4000, end)
            link.vanish()
        else:
            link.vanish()
            client.stdin.write(b"regs\n")
            client.stdin.flush()
        vanished = time.monotonic()
        try:
            rest, stderr = client.communicate(timeout=VANISHED_DEADLINE)
        except subprocess.TimeoutExpired:
            return "still running %d s after the host vanished" % VANISHED_DEADLINE, VANISHED_DEADLINE
        seconds = time.monotonic() - vanished
        stdout = bytes(output) + rest
        expected_error = (b"cmdclient: connection to %s port %d lost: Connection timed out\n"
                          % (link.address.encode(), link.port))
        tail = b"status == -1  errno == 110 in Socket::recv\nException!\n\n"
        if client.returncode != 1 or stderr != expected_error or not stdout.endswith(tail):
            return "status %d, stderr %r, stdout ends %r" % (client.returncode, stderr,
                                                            stdout[-80:]), seconds
        return None, seconds
    finally:
        if client is not None:
            stop(client)
        link.close()


def skip_reason():
    if os.geteuid() != 0:
        return "not root: network namespaces cannot be made"
    for tool in ("ip", "iptables", "tc"):
        if shutil.which(tool) is None:
            return "%s is not installed" % tool
    probe = PREFIX + "probe-%d" % os.getpid()
    made = sh("ip", "netns", "add", probe, check=False)
    if made.returncode != 0:
        return "ip netns add fails: %s" % made.stderr.decode().strip()
    sh("ip", "netns", "del", probe, check=False)
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", choices=sorted(IMPAIRMENTS) + ["vanished_mid_reply",
                                                                 "vanished_unacknowledged"])
    options = parser.parse_args()
    if not CLIENT or not SERVER:
        sys.exit("CMDCLIENT and CMDCLIENT_DEMO_SERVER must name the client and the demo server")
    why = skip_reason()
    if why:
        print("netns: skipped: %s" % why)
        return 1 if os.environ.get("CMDCLIENT_NETNS_REQUIRED") == "1" else SKIPPED
    remove_stale_namespaces()

    results = {}
    vanished = [name for name in ("vanished_mid_reply", "vanished_unacknowledged")
                if options.only in (None, name)]
    impaired = [name for name in IMPAIRMENTS if options.only in (None, name)]

    def record(name, case):
        try:
            results[name] = case()
        except Exception as error:  # a broken link is a failure of this case, not a crash
            results[name] = ("%s: %s" % (type(error).__name__, error), 0)

    # The vanished-host cases take about two minutes of waiting: run them
    # beside the others, each on its own link.
    threads = [threading.Thread(target=record, args=(name, lambda n=name, i=i: vanished_case(n, i)))
               for i, name in enumerate(vanished, start=1)]
    for thread in threads:
        thread.start()
    if impaired:
        stdin = command_mix()
        reference = loopback_reference(stdin)
        print("netns: loopback reference: %d bytes of output, %d files"
              % (len(reference[0]), len(reference[1])), flush=True)
        for index, name in enumerate(impaired, start=10):
            record(name, lambda n=name, i=index: impaired_case(n, i, reference, stdin))
            print("netns: %s: %s (%.1f s)" % (name, results[name][0] or "identical",
                                              results[name][1]), flush=True)
    for thread in threads:
        thread.join()
    for name in vanished:
        print("netns: %s: %s (%.1f s after the host vanished)"
              % (name, results[name][0] or "lost-connection path", results[name][1]))
    failed = sorted(name for name, (problem, _) in results.items() if problem)
    for name in failed:
        print("FAILED %s\n  repro: CMDCLIENT=%s CMDCLIENT_DEMO_SERVER=%s %s %s --only %s"
              % (name, CLIENT, SERVER, sys.executable, os.path.abspath(__file__), name))
    print("netns: %d cases, %d failed" % (len(results), len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
