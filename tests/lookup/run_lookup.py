#!/usr/bin/env python3
"""Reaching the server by name, by IPv6 and again later: --lookup, -4, -6,
--retry. Every name is one this suite controls: the cases run inside a network
namespace of its own, whose /etc/netns/NAME/hosts holds the names and whose
resolv.conf names a name server that is a UDP socket of this suite, which
reads and never answers. No other name server is ever asked.

Needs root and `ip netns`; otherwise it exits with status 77 (skipped) and
says why, unless CMDCLIENT_NETNS_REQUIRED=1. The namespace and its files are
removed afterwards, also on failure.

    CMDCLIENT=... run_lookup.py [--only CASE]
"""

import argparse
import ctypes
import glob
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

CLIENT = os.environ.get("CMDCLIENT", "")
SKIPPED = 77
PREFIX = "cmdclient-lookup-"
CASE_DEADLINE = 20
BANNER = (b"Use decimal, C hex (0x2a) or Asm hex (14h) for input\n"
          b"Return data reported according to specified radix\n"
          b"Type 'help' or 'quit' to exit\n")
FAILED_CONNECT = BANNER + b"Exception was caught:Could not bind to port.\n"

HOSTS = """127.0.0.1 localhost
::1 dual.test
127.0.0.1 dual.test
::1 v6only.test
"""
# The resolver alone would wait a minute for the silent name server.
RESOLV_CONF = """nameserver 127.0.0.1
options timeout:30 attempts:2
"""


class CaseFailure(Exception):
    pass


def check(condition, what, *shown):
    if not condition:
        raise CaseFailure(what + "".join("\n    %r" % (item,) for item in shown))


def start_client(args):
    return subprocess.Popen([CLIENT] + args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)


def finish(client, deadline=CASE_DEADLINE):
    """Waits for the client's end: (status, stdout, stderr)."""
    try:
        out, err = client.communicate(timeout=deadline)
    except subprocess.TimeoutExpired:
        client.kill()
        client.communicate()
        raise CaseFailure("the client was still running after %d s" % deadline)
    return client.returncode, out, err


def read_lines(stream, count, end):
    """Reads `count` lines from `stream` by the monotonic time `end`."""
    data = b""
    while data.count(b"\n") < count:
        left = end - time.monotonic()
        check(left > 0 and select.select([stream], [], [], left)[0],
              "no line %d on standard error in time" % (data.count(b"\n") + 1), data)
        piece = os.read(stream.fileno(), 4096)
        check(piece, "standard error ended early", data)
        data += piece
    return data


class Listener:
    """A TCP server on `address` port 0 (or on `sock` when given): answers the
    first command it receives with `reply`, or closes the connection when
    `reply` is None; records what it received."""

    def __init__(self, family, address, reply, sock=None, listen=True):
        self.sock = sock or socket.socket(family, socket.SOCK_STREAM)
        if sock is None:
            self.sock.bind((address, 0))
        self.port = self.sock.getsockname()[1]
        self.reply = reply
        self.received = b""
        self.thread = None
        if listen:
            self.listen()

    def listen(self):
        self.sock.listen(1)
        self.sock.settimeout(CASE_DEADLINE)
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        try:
            connection, _ = self.sock.accept()
        except OSError:
            return
        with connection:
            connection.settimeout(CASE_DEADLINE)
            try:
                self.received = connection.recv(4096)
                if self.reply is not None:
                    connection.sendall(self.reply)
                    connection.recv(4096)  # until the client closes
            except OSError:
                pass

    def close(self):
        self.sock.close()
        if self.thread is not None:
            self.thread.join(CASE_DEADLINE)


def refused_port(family=socket.AF_INET, address="127.0.0.1"):
    """A socket bound on `address` and not listening: connects to its port are
    refused until it listens."""
    sock = socket.socket(family, socket.SOCK_STREAM)
    sock.bind((address, 0))
    return sock


def orphans():
    """Processes left behind by ended clients: this process is their
    subreaper, so a lookup process the client did not end becomes its child."""
    found = []
    for name in glob.glob("/proc/%d/task/*/children" % os.getpid()):
        with open(name) as f:
            found += [int(pid) for pid in f.read().split()]
    return found


# The cases. Each runs inside the namespace and raises CaseFailure.

def dual_name_uses_the_address_that_listens(silent):
    """dual.test has ::1 and 127.0.0.1; only 127.0.0.1 listens: the second is
    used, nothing is said about the first, and messages name the one used."""
    server = Listener(socket.AF_INET, "127.0.0.1", None)
    try:
        status, out, err = finish(start_client(["--lookup", "-c", "ping", "dual.test",
                                                str(server.port)]))
    finally:
        server.close()
    check(server.received == b"ping", "the server did not get the command", server.received)
    check(status == 1 and out == BANNER + b"Ok> Exception!\n\n", "status or output", status, out)
    check(err == b"cmdclient: connection to 127.0.0.1 port %d closed by the server\n" % server.port,
          "standard error", err)


def dual_name_neither_listening_says_each_address(silent):
    sock = refused_port()
    port = sock.getsockname()[1]
    try:
        status, out, err = finish(start_client(["--lookup", "dual.test", str(port)]))
    finally:
        sock.close()
    check(status == 1 and out == FAILED_CONNECT + b"\n", "status or output", status, out)
    check(err == (b"cmdclient: cannot connect to ::1 port %d: Connection refused\n"
                  b"cmdclient: cannot connect to 127.0.0.1 port %d: Connection refused\n"
                  % (port, port)), "standard error", err)


def ipv6_only_to_loopback(silent):
    server = Listener(socket.AF_INET6, "::1", b"pong\nOk")
    try:
        status, out, err = finish(start_client(["-6", "-c", "ping", "::1", str(server.port)]))
    finally:
        server.close()
    check(server.received == b"ping", "the server did not get the command", server.received)
    check(status == 0 and out == BANNER + b"Ok> pong\nOk> \n" and err == b"",
          "status or output", status, out, err)


def ipv4_only_to_an_ipv6_name(silent):
    status, out, err = finish(start_client(["-4", "v6only.test", "5000"]))
    check(status == 1 and out == FAILED_CONNECT + b"\n", "status or output", status, out)
    check(err == b"cmdclient: 'v6only.test' has no IPv4 address (-4)\n", "standard error", err)


def silent_name_server_ended_by_connect_timeout(silent):
    """The lookup is given up after --connect-timeout, and tried again as a
    failure for the moment; the resolver alone would wait a minute."""
    status, out, err = finish(start_client(["--connect-timeout", "0.5", "--retry", "1",
                                            "--retry-delay", "0", "--lookup", "silent.test",
                                            "5000"]))
    check(status == 1 and out == FAILED_CONNECT + b"\n", "status or output", status, out)
    check(err == (b"cmdclient: cannot look up 'silent.test': no answer in 0.5 s; retrying in 0 s "
                  b"(attempt 1 of 2)\n"
                  b"cmdclient: cannot look up 'silent.test': no answer in 0.5 s\n"),
          "standard error", err)
    check(silent.queries > 0, "the name server was never asked")
    check(not orphans(), "lookup processes left running", orphans())


def silent_name_server_ended_by_sigterm(silent):
    asked = silent.queries
    client = start_client(["--lookup", "silent.test", "5000"])
    try:
        check(silent.wait_for_query(asked, time.monotonic() + CASE_DEADLINE),
              "the name server was never asked")
        client.send_signal(signal.SIGTERM)
        status, out, err = finish(client)
    finally:
        if client.poll() is None:
            client.kill()
            client.wait()
    check(status == -signal.SIGTERM and out == BANNER and err == b"",
          "not ended by SIGTERM at once", status, out, err)
    check(not orphans(), "lookup processes left running", orphans())


def retry_until_the_server_listens(silent):
    """The port starts listening once the second retry line has been read."""
    sock = refused_port()
    port = sock.getsockname()[1]
    server = Listener(socket.AF_INET, "127.0.0.1", b"pong\nOk", sock=sock, listen=False)
    client = start_client(["--retry", "3", "-c", "ping", "127.0.0.1", str(port)])
    try:
        early = read_lines(client.stderr, 2, time.monotonic() + CASE_DEADLINE)
        server.listen()
        status, out, err = finish(client)
    finally:
        server.close()
        if client.poll() is None:
            client.kill()
            client.wait()
    lines = (early + err).decode().splitlines()
    expected = ["cmdclient: cannot connect to 127.0.0.1 port %d: Connection refused; retrying in "
                "1 s (attempt %d of 4)" % (port, attempt) for attempt in (1, 2, 3)]
    # A third attempt may come first only if this suite was held up for a second.
    check(lines in (expected[:2], expected), "the retry lines", lines)
    check(status == 0 and out == BANNER + b"Ok> pong\nOk> \n", "status or output", status, out)
    check(server.received == b"ping", "the server did not get the command", server.received)


def retry_ended_by_ctrl_c(silent):
    sock = refused_port()
    port = sock.getsockname()[1]
    client = start_client(["--retry", "5", "--retry-delay", "60", "127.0.0.1", str(port)])
    try:
        first = read_lines(client.stderr, 1, time.monotonic() + CASE_DEADLINE)
        client.send_signal(signal.SIGINT)
        status, out, err = finish(client)
    finally:
        sock.close()
        if client.poll() is None:
            client.kill()
            client.wait()
    check(first.endswith(b"(attempt 1 of 6)\n"), "the first retry line", first)
    check(status == -signal.SIGINT and out == BANNER and err == b"",
          "not ended by SIGINT at once", status, out, err)


CASES = [dual_name_uses_the_address_that_listens, dual_name_neither_listening_says_each_address,
         ipv6_only_to_loopback, ipv4_only_to_an_ipv6_name,
         silent_name_server_ended_by_connect_timeout, silent_name_server_ended_by_sigterm,
         retry_until_the_server_listens, retry_ended_by_ctrl_c]


class SilentNameServer:
    """A UDP socket on 127.0.0.1 port 53 that reads queries and never answers."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 53))
        self.queries = 0
        self.changed = threading.Condition()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        while True:
            try:
                self.sock.recv(4096)
            except OSError:
                return
            with self.changed:
                self.queries += 1
                self.changed.notify_all()

    def wait_for_query(self, seen, end):
        with self.changed:
            return self.changed.wait_for(lambda: self.queries > seen, end - time.monotonic())


def run_inside(only):
    """Runs the cases; this process is inside the namespace."""
    PR_SET_CHILD_SUBREAPER = 36
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    silent = SilentNameServer()
    failed = []
    for case in CASES:
        if only and case.__name__ != only:
            continue
        started = time.monotonic()
        try:
            case(silent)
            verdict = "ok"
        except CaseFailure as failure:
            verdict = "FAILED: %s" % failure
            failed.append(case.__name__)
        print("lookup: %s: %s (%.1f s)" % (case.__name__, verdict, time.monotonic() - started),
              flush=True)
    for name in failed:
        print("FAILED %s\n  repro: CMDCLIENT=%s %s %s --only %s"
              % (name, CLIENT, sys.executable, os.path.abspath(__file__), name))
    print("lookup: %d failed" % len(failed))
    return 1 if failed else 0


def sh(*words, check=True):
    return subprocess.run(words, check=check, capture_output=True, timeout=30)


def skip_reason():
    if not sys.platform.startswith("linux"):
        return "network namespaces are Linux's"
    if os.geteuid() != 0:
        return "not root: network namespaces cannot be made"
    if shutil.which("ip") is None:
        return "ip is not installed"
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", choices=[case.__name__ for case in CASES])
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    options = parser.parse_args()
    if not CLIENT:
        sys.exit("CMDCLIENT must name the client")
    if options.inside:
        return run_inside(options.only)
    required = os.environ.get("CMDCLIENT_NETNS_REQUIRED") == "1"
    why = skip_reason()
    if why:
        print("lookup: skipped: %s" % why)
        return 1 if required else SKIPPED
    name = PREFIX + str(os.getpid())
    files = os.path.join("/etc/netns", name)
    made = False
    try:
        made = sh("ip", "netns", "add", name, check=False)
        if made.returncode != 0:
            print("lookup: skipped: ip netns add fails: %s" % made.stderr.decode().strip())
            return 1 if required else SKIPPED
        os.makedirs(files)
        with open(os.path.join(files, "hosts"), "w") as f:
            f.write(HOSTS)
        with open(os.path.join(files, "resolv.conf"), "w") as f:
            f.write(RESOLV_CONF)
        sh("ip", "-n", name, "link", "set", "lo", "up")
        words = ["ip", "netns", "exec", name, sys.executable, os.path.abspath(__file__), "--inside"]
        if options.only:
            words += ["--only", options.only]
        return subprocess.run(words, timeout=CASE_DEADLINE * len(CASES) + 30).returncode
    finally:
        shutil.rmtree(files, ignore_errors=True)
        if made and made.returncode == 0:
            sh("ip", "netns", "del", name, check=False)


if __name__ == "__main__":
    sys.exit(main())
