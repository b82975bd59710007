#!/usr/bin/env python3
"""Fault injection: runs scripted sessions of the real cmdclient against a fake
server on 127.0.0.1, once cleanly with fault_shim counting its system calls by
kind, then once for every call of every kind with that call failed (or cut
short). Each run is judged against the clean one: either identical (the fault
was absorbed), or exactly one of the client's documented failure paths, or an
artefact the kernel could not produce (with the reason). Anything else,
including a run that outlives its deadline, is a defect. Besides, a SIGTERM
must end a client whose every wait finds its descriptor ready at once (a
ready storm): the signal is heard however busy the client is.

    CMDCLIENT=... FAULT_SHIM=... run_faults.py              the whole matrix
    ... run_faults.py --only SESSION:KIND:CALL:FAULT        one run, shown in full
    ... run_faults.py --only ready_storm:NAME               one ready storm
"""

import argparse
import concurrent.futures
import errno
import fcntl
import os
import re
import select
import shlex
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time

CLIENT = os.environ.get("CMDCLIENT", "")
SHIM = os.environ.get("FAULT_SHIM", "")
# Sanitizer builds get a longer CMDCLIENT_TEST_DEADLINE (default 30 s); a run
# here is short, so a hang is declared after a tenth of it.
DEADLINE = max(3.0, float(os.environ.get("CMDCLIENT_TEST_DEADLINE", "30")) / 10)
WORKERS = 3

# The shim's counters file (fault_shim.cpp, struct Counters).
KINDS = ["socket", "setsockopt", "connect", "send", "recv", "poll", "read0", "write1", "write2",
         "file_open", "file_write", "file_close", "malloc", "storm", "log_open", "log_write",
         "log_close"]
COUNTS_LAYOUT = struct.Struct("<%dQ%dQqq16q" % (len(KINDS), len(KINDS)))
SO_REUSEADDR_OPTION = socket.SOL_SOCKET << 16 | socket.SO_REUSEADDR
MSG_DONTWAIT = 0x40

# Faults per kind. Each is an errno the call can report, a short transfer, an
# early end of stream, or a storm of signals without SA_RESTART.
FAULTS = {
    "socket": ["EMFILE", "EACCES"],
    "setsockopt": ["ENOMEM"],
    "connect": ["EINTR", "ECONNREFUSED", "ETIMEDOUT", "ENETUNREACH"],
    "send": ["EINTR", "EAGAIN", "ENOBUFS", "ENOMEM", "ECONNRESET", "EPIPE", "ETIMEDOUT",
             "short1", "half"],
    "recv": ["EINTR", "EAGAIN", "ECONNRESET", "ETIMEDOUT", "eof", "short1", "half"],
    "poll": ["EINTR"],
    "read0": ["EINTR", "EAGAIN", "EIO", "short1"],
    "write1": ["EINTR", "EAGAIN", "EIO", "ENOSPC", "short1", "half"],
    "write2": ["EINTR", "EIO", "short1"],
    "file_open": ["EINTR", "EACCES", "ENOSPC"],
    "file_write": ["EINTR", "EIO", "ENOSPC", "EFBIG", "short1", "half"],
    "file_close": ["EINTR", "EIO"],
    "malloc": ["ENOMEM"],
    "storm": ["storm"],
    "log_open": ["EINTR", "EACCES", "ENOSPC"],
    "log_write": ["EINTR", "EIO", "ENOSPC", "EFBIG", "short1", "half"],
    "log_close": ["EINTR", "EIO", "EDQUOT"],
}
# Beyond this many runs for one kind of one session, call N gets the fault
# N mod len(faults) instead of every fault: each call still fails once.
FULL_PRODUCT_LIMIT = 60

# Faults a sound client waits out or retries, leaving the run unchanged.
TRANSIENT = {
    "send": {"EINTR", "EAGAIN", "ENOBUFS", "ENOMEM"},
    "recv": {"EINTR", "EAGAIN"},
    "read0": {"EINTR", "EAGAIN"},
    "write1": {"EINTR", "EAGAIN"},
}

# A failed close may have lost what was written: a run that looks clean is a defect.
MUST_BE_REPORTED = {"file_close", "log_close"}

FILE_MARK = "reply-"
LOG = "session-log.txt"
BIG = b"".join(b"%05d 0123456789abcdef ghijklmnop qrstuvwxyz\n" % i for i in range(480))  # ~20 KB
BANNER = (b"Use decimal, C hex (0x2a) or Asm hex (14h) for input\n"
          b"Return data reported according to specified radix\n"
          b"Type 'help' or 'quit' to exit\n")

# name: (standard input, [(command, reply)], redirect file names in order)
SESSIONS = {
    "console": (b"regs\nmem 0 64\nquit\n",
                [(b"regs", b"A=1F B=02 C=00\nOk"),
                 (b"mem 0 64", b"0000: 00 01 02 03\n0004: 04 05 06 07\nOk")], []),
    "file": (b"regs > reply-1.txt\nhelp\n",
             [(b"regs", b"A=1F B=02\nOk"), (b"help", b"commands: regs mem radix\nOk")],
             ["reply-1.txt"]),
    "large": (b"mem 0 20000\nmem 0 20000 > reply-2.txt\n",
              [(b"mem 0 20000", BIG + b"Ok"), (b"mem 0 20000", BIG + b"Ok")], ["reply-2.txt"]),
    "syntax": (b"bogus\nregs\n", [(b"bogus", b"Syntax error"), (b"regs", b"A=1\nOk")], []),
    "bad_redirect": (b"regs > missing/reply-3.txt\nregs\n",
                     [(b"regs", b"A=1\nOk"), (b"regs", b"A=2\nOk")], ["missing/reply-3.txt"]),
    "no_newline": (b"regs\nmem", [(b"regs", b"A=1\nOk"), (b"mem", b"0000: 00\nOk")], []),
    # Standard input and output on a pseudo-terminal: the line editor reads the keys.
    "terminal": (b"regs\nmem 0 64 > reply-4.txt\nquit\n",
                 [(b"regs", b"A=1F\nOk"), (b"mem 0 64", b"0000: 00 01\nOk")], ["reply-4.txt"]),
    # The session log's open and writes, beside a redirect file.
    "log": (b"regs\nmem 0 20000 > reply-5.txt\nmem 0 20000\nquit\n",
            [(b"regs", b"A=1F\nOk"), (b"mem 0 20000", BIG + b"Ok"), (b"mem 0 20000", BIG + b"Ok")],
            ["reply-5.txt"]),
    # Each command twice, from a command file (standard input), timed; the
    # server ends the first connection after both "regs", so that the rest,
    # and most faults, land on the second.
    "reconnect": (b"regs\nmem 0 64 > reply-6.txt\nhelp\n",
                  [(b"regs", b"A=1F\nOk"), (b"regs", b"A=1F\nOk"),
                   (b"mem 0 64", b"0000: 00 01\nOk"), (b"mem 0 64", b"0000: 00 01\nOk"),
                   (b"help", b"commands: regs mem\nOk"), (b"help", b"commands: regs mem\nOk")],
                  ["reply-6.txt"]),
}
# Options before the port, per session.
OPTIONS = {"log": ["--echo", "-L", LOG], "reconnect": ["--reconnect", "-r", "2", "--timing", "-f", "-"]}
RECONNECTING = {"reconnect": 2}  # session: the replies after which the first connection ends
# A reply's time (--timing) differs from run to run; runs are compared without it.
TIME = re.compile(rb"\d+\.\d\d\d m?s$", re.M)
TERMINAL_SESSIONS = {"terminal"}


class Server:
    """Plays one session's script to one client: reads each command's bytes,
    answers with its reply, records everything received, and gives up when
    told to stop (the client has ended) rather than at a deadline of its own."""

    def __init__(self, script):
        self.script = script
        self.received = b""
        self.stop = threading.Event()
        self._listener = socket.create_server(("127.0.0.1", 0))
        self.port = self._listener.getsockname()[1]
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def finish(self):
        self.stop.set()
        self._thread.join(10)
        self._listener.close()

    def _readable(self, sock):
        # Looked at once more after the stop: what the client sent before it
        # ended is already here and must be recorded.
        while True:
            stopping = self.stop.is_set()
            if select.select([sock], [], [], 0 if stopping else 0.05)[0]:
                return True
            if stopping:
                return False

    def _serve(self):
        if not self._readable(self._listener):
            return
        connection, _ = self._listener.accept()
        with connection:
            try:
                for command, reply in self.script:
                    got = b""
                    while len(got) < len(command):
                        if not self._readable(connection):
                            return
                        piece = connection.recv(len(command) - len(got))
                        if not piece:
                            return
                        got += piece
                        self.received += piece
                    if got != command:
                        break
                    self._send(connection, reply)
                while self._readable(connection):
                    piece = connection.recv(65536)
                    if not piece:
                        return
                    self.received += piece
            except OSError:
                pass  # the client reset or went away: what it sent is recorded

    def _send(self, connection, data):
        connection.setblocking(False)
        while data and not self.stop.is_set():
            if select.select([], [connection], [], 0.05)[1]:
                data = data[connection.send(data):]
        connection.setblocking(True)


class ReconnectingServer(Server):
    """As Server, over one connection after another, the script going on
    where the last one left it. The first connection is ended by the server
    with its `close_after`th reply: the close rides on the reply's last
    segment, so the client has it before it sends again."""

    def __init__(self, script, close_after):
        self.close_after = close_after
        super().__init__(script)

    def _serve(self):
        self.done = 0  # commands answered, whichever connection they came on
        self.skipped = False
        first = True
        while self._readable(self._listener):
            connection, _ = self._listener.accept()
            with connection:
                try:
                    if not self._serve_connection(connection, first):
                        return
                except OSError:
                    pass  # the client reset or went away: what it sent is recorded
            first = False

    def _serve_connection(self, connection, first):
        """Plays the script on from where it is: true when the connection
        ended in order, false when the script cannot go on. Once in a run,
        after the first connection, a command may be missing: the client
        lost it (a command and its repetition look alike, so it may be found
        missing later)."""
        skippable = not first and not self.skipped
        script = self.script
        while self.done < len(script):
            expected = [self.done] + ([self.done + 1] if skippable and
                                      self.done + 1 < len(script) else [])
            got = b""
            while not any(got == script[i][0] for i in expected):
                if not any(script[i][0].startswith(got) for i in expected):
                    return False
                if not self._readable(connection):
                    return False
                piece = connection.recv(65536)
                if not piece:
                    return True
                got += piece
                self.received += piece
            found = next(i for i in expected if got == script[i][0])
            if found > self.done:
                self.skipped, skippable = True, False
            self.done = found + 1
            ending = first and self.done == self.close_after
            if ending:
                connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_CORK, 1)
            self._send(connection, script[self.done - 1][1])
            if ending:
                connection.shutdown(socket.SHUT_WR)
                connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_CORK, 0)
                break
        while self._readable(connection):
            piece = connection.recv(65536)
            if not piece:
                return True
            self.received += piece
        return False


class Run:
    """One client run: its outputs, what the server received, the files and the shim's counters."""

    def __init__(self, session, kind=None, call=0, fault=None):
        stdin, script, names = SESSIONS[session]
        self.session, self.kind, self.call, self.fault = session, kind, call, fault
        if session in RECONNECTING:
            server = ReconnectingServer(script, RECONNECTING[session])
        else:
            server = Server(script)
        self.port = server.port
        with tempfile.TemporaryDirectory() as cwd:
            counts = os.path.join(cwd, ".counts")
            offered = os.path.join(cwd, ".offered")
            env = dict(os.environ, LD_PRELOAD=SHIM, FAULT_COUNTS=counts, FAULT_FILE_MARK=FILE_MARK,
                       FAULT_LOG_MARK=LOG, FAULT_OFFERED=offered)
            if kind:
                env.update(FAULT_KIND=kind, FAULT_CALL=str(call), FAULT_ACTION=action(fault))
            if session in TERMINAL_SESSIONS:
                env.update(TERM="xterm", CMDCLIENT_HISTORY="", LANG="C.UTF-8")
                self._run_on_terminal(server.port, cwd, env, stdin)
            else:
                client = subprocess.Popen([CLIENT] + OPTIONS.get(session, []) + [str(server.port)],
                                          cwd=cwd, env=env,
                                          stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                          stderr=subprocess.PIPE)
                try:
                    self.stdout, self.stderr = client.communicate(stdin, timeout=DEADLINE)
                    self.hung = False
                except subprocess.TimeoutExpired:
                    client.kill()
                    self.stdout, self.stderr = client.communicate()
                    self.hung = True
                self.status = client.returncode
            server.finish()
            self.stderr = TIME.sub(b"T", self.stderr)
            if session in RECONNECTING:  # its lines name the server, whose port differs
                self.stderr = self.stderr.replace(b"port %d" % self.port, b"port PORT")
            self.received = server.received
            self.files = {}
            for name in names:
                path = os.path.join(cwd, name)
                if os.path.exists(path):
                    with open(path, "rb") as f:
                        self.files[name] = f.read()
            # The log is judged by the log's faults alone (it also holds the
            # client's own lines that other faults add).
            self.log = b""
            if os.path.exists(os.path.join(cwd, LOG)):
                with open(os.path.join(cwd, LOG), "rb") as f:
                    self.log = f.read()
            # What the client offered to standard output and error, in order.
            with open(offered, "rb") as f:
                self.offered = f.read()
            with open(counts, "rb") as f:
                fields = COUNTS_LAYOUT.unpack(f.read(COUNTS_LAYOUT.size))
        self.calls = dict(zip(KINDS, fields[:len(KINDS)]))
        self.at_fault = dict(zip(KINDS, fields[len(KINDS):2 * len(KINDS)]))
        self.fired, self.fault_flags = fields[2 * len(KINDS)], fields[2 * len(KINDS) + 1]
        self.options = fields[2 * len(KINDS) + 2:]

    def _run_on_terminal(self, port, cwd, env, keys):
        """Runs the client with a pseudo-terminal as standard input and output
        (standard error a pipe); types `keys` once the first prompt shows."""
        master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
        client = subprocess.Popen([CLIENT, str(port)], cwd=cwd, env=env, stdin=slave,
                                  stdout=slave, stderr=subprocess.PIPE, start_new_session=True)
        os.close(slave)
        end = time.monotonic() + DEADLINE
        self.stdout, self.stderr, typed, open_ends = b"", b"", False, [master, client.stderr]
        while open_ends and time.monotonic() < end:
            for ready in select.select(open_ends, [], [], 0.05)[0]:
                try:
                    piece = os.read(ready if ready == master else ready.fileno(), 65536)
                except OSError:  # the terminal's last user has gone
                    piece = b""
                if not piece:
                    open_ends.remove(ready)
                elif ready == master:
                    self.stdout += piece
                else:
                    self.stderr += piece
            if not typed and b"Ok> " in self.stdout and editor_has_terminal(master):
                os.write(master, keys)
                typed = True
        self.hung = bool(open_ends)
        if self.hung:
            client.kill()
        self.status = client.wait()
        os.close(master)
        client.stderr.close()

    def outcome(self):
        return (self.stdout, self.stderr, self.status, self.received, self.files)

    def case(self):
        return "%s:%s:%d:%s" % (self.session, self.kind, self.call, self.fault)


def action(fault):
    if fault in ("short1", "half", "eof", "storm"):
        return fault
    return "errno:%d" % getattr(errno, fault)


def editor_has_terminal(master):
    """True once the line editor has taken the terminal (it no longer reads
    line by line): keys typed earlier could meet the terminal before the
    editor has set it up, and be echoed by the terminal itself."""
    try:
        return not termios.tcgetattr(master)[3] & termios.ICANON
    except OSError:
        return True  # the terminal is gone: typing can do no harm then


def console(run, data):
    """`data` as the client's standard output shows it: a terminal turns each
    newline into CR LF."""
    return data.replace(b"\n", b"\r\n") if run.session in TERMINAL_SESSIONS else data


def reason(fault):
    return os.strerror(getattr(errno, fault)).encode()


def judge(run, clean):
    """None when the run is sound, else what is wrong, in one line. Artefacts
    come back as ("artefact", why)."""
    if run.hung:
        return artefact(run) or "no end within %.0f s (a hang); stdout ends %r" % (DEADLINE, run.stdout[-60:])
    if run.status < 0:
        return "ended by signal %d" % -run.status
    if not run.fired and run.kind != "storm":
        return "the fault never fired: the call count differs from the clean run's"
    # A failed log cannot hold what it missed, nor can a log whose session
    # ran out of memory: that line is written without allocating, past it.
    if "-L" in OPTIONS.get(run.session, []) and run.kind not in ("log_open", "log_write",
                                                                "log_close",
                                                      "malloc"):
        problem = log_matches_offered(run.log, run.offered)
        if problem:
            return problem
    unchanged = run.outcome() == clean.outcome()
    if unchanged and run.kind not in MUST_BE_REPORTED:
        return None
    expected = expected_outcome(run, clean)
    if expected is None:
        if unchanged:
            return None
        return artefact(run) or "expected the run to be unchanged; " + difference(run, clean)
    problem = expected(run)
    if problem is None:
        return None
    return artefact(run) or problem


# Where a terminal ends a partly shown line, and so the log does: before a
# failure line and before one of the client's own lines.
ENDED_BEFORE = (b"cmdclient: ", b"Exception", b"status == -1")


def log_matches_offered(log, offered):
    """None when the log holds what the client offered to standard output and
    error, in order, but for newlines ending a partial line before
    ENDED_BEFORE; else where the two part."""
    at = 0
    for index, byte in enumerate(log):
        if at < len(offered) and offered[at] == byte:
            at += 1
        elif byte != ord("\n") or not log[index + 1:].startswith(ENDED_BEFORE):
            return "the log %r parts from what was offered, %r" % (log[index:index + 60],
                                                                   offered[at:at + 60])
    return None if at == len(offered) else "the log lacks %r" % clip(offered[at:])


def artefact(run):
    dontwait = run.fault_flags & MSG_DONTWAIT
    if run.kind in ("send", "recv") and run.fault == "EAGAIN" and not dontwait:
        return ("artefact", "EAGAIN from a blocking socket call needs a socket timeout, "
                            "which the client never sets")
    if run.kind in ("send", "recv") and run.fault == "EINTR" and dontwait:
        return ("artefact", "EINTR from a call that cannot block")
    if run.kind == "recv" and run.fault in ("short1", "half") and run.session == "syntax":
        return ("artefact", "a receive that splits 'Syntax error' cannot end the reply "
                            "(the reply rules judge each receive)")
    return None


def difference(run, clean):
    names = ["stdout", "stderr", "status", "received", "files"]
    for name, got, want in zip(names, run.outcome(), clean.outcome()):
        if got != want:
            return "%s is %r, clean run %r" % (name, clip(got), clip(want))
    return "no difference"


def clip(value):
    if isinstance(value, bytes) and len(value) > 120:
        return value[:50] + b"..." + value[-50:]
    return value


def commands(run, count):
    return b"".join(command for command, _ in SESSIONS[run.session][1][:count])


def check_all(*checks):
    for problem in checks:
        if problem:
            return problem
    return None


def is_prefix(part, whole, what):
    return None if whole.startswith(part) else "%s %r is not a prefix of the clean run's" % (
        what, clip(part))


def ends_with_prefix(stdout, tail, clean_stdout):
    """stdout is some prefix of the clean run's stdout followed by `tail`."""
    if not stdout.endswith(tail):
        return "stdout %r does not end with %r" % (clip(stdout), tail)
    return is_prefix(stdout[:len(stdout) - len(tail)], clean_stdout, "stdout before the failure")


def files_are_prefixes(run, clean):
    for name, content in run.files.items():
        if not clean.files.get(name, b"").startswith(content):
            return "file %s %r is not a prefix of its clean content" % (name, clip(content))
    return None


def stderr_then(run, clean, line):
    """Standard error is what the clean run had written so far, then `line`."""
    if not run.stderr.endswith(line):
        return "stderr %r does not end with %r" % (run.stderr, line)
    return is_prefix(run.stderr[:len(run.stderr) - len(line)], clean.stderr, "stderr before it")


def exact(what, got, want):
    return None if got == want else "%s is %r, expected %r" % (what, clip(got), clip(want))


def expected_outcome(run, clean):
    """A check for the documented failure path that this fault leads to, or
    None when the fault must be absorbed."""
    kind, fault = run.kind, run.fault
    sent = run.at_fault["send"]  # send calls made before the fault, one per command when clean
    peer = b"localhost port %d" % run.port
    if kind in TRANSIENT and fault in TRANSIENT[kind] or fault in ("short1", "half", "storm"):
        return None
    if fault == "EINTR":
        return None  # absorbed everywhere: a signal must never cost input or output
    if kind == "setsockopt" and run.options[run.call - 1] != SO_REUSEADDR_OPTION:
        return None  # the connection's tuning is best effort
    if run.session in RECONNECTING and kind in ("socket", "setsockopt", "connect", "send", "recv"):
        peer = b"localhost port PORT"
        if kind in ("send", "recv"):
            return lambda r: reconnected(r, clean, peer)
        if run.at_fault["connect"] > 0:  # the connect again, after the first connection
            return lambda r: reconnect_failed(r, clean, kind, fault, peer)
    if kind in ("socket", "setsockopt", "connect"):
        message = b"Could not create client socket." if kind != "connect" else b"Could not bind to port."
        return lambda r: check_all(
            exact("stdout", r.stdout,
                  console(r, BANNER + b"Exception was caught:" + message + b"\n\n")),
            exact("stderr", r.stderr, b"cmdclient: cannot connect to " + peer + b": " +
                  reason(fault) + b"\n"),
            exact("status", r.status, 1), exact("received", r.received, b""))
    if kind in ("send", "recv"):
        if kind == "recv" and fault != "eof":
            tail = b"status == -1  errno == %d in Socket::recv\nException!\n\n" % getattr(errno, fault)
        else:
            tail = b"Exception!\n\n"
        why = b"closed by the server" if fault == "eof" else b"lost: " + reason(fault)
        before = sent - 1 if kind == "send" else sent  # a failed send delivered nothing
        return lambda r: check_all(
            ends_with_prefix(r.stdout, console(r, tail), clean.stdout),
            stderr_then(r, clean, b"cmdclient: connection to " + peer + b" " + why + b"\n"),
            exact("status", r.status, 1), exact("received", r.received, commands(r, before)),
            files_are_prefixes(r, clean))
    if kind == "write1":
        return lambda r: check_all(
            is_prefix(r.stdout, clean.stdout, "stdout"),
            stderr_then(r, clean, b"cmdclient: cannot write standard output: " +
                        reason(fault) + b"\n"),
            exact("status", r.status, 1), exact("received", r.received, commands(r, sent)),
            files_are_prefixes(r, clean))
    if kind == "write2":
        # Standard error that cannot be written costs its message, nothing else.
        return lambda r: check_all(
            exact("stdout", r.stdout, clean.stdout), exact("status", r.status, clean.status),
            exact("received", r.received, clean.received), exact("files", r.files, clean.files),
            is_prefix(r.stderr, clean.stderr, "stderr"))
    if kind == "read0":
        return lambda r: check_all(
            ends_with_prefix(r.stdout, console(r, b"\n"),
                             clean.stdout[:len(clean.stdout) - len(console(r, b"\n"))]),
            stderr_then(r, clean, b"cmdclient: cannot read standard input: " +
                        reason(fault) + b"\n"),
            exact("status", r.status, 1), exact("received", r.received, commands(r, sent)),
            files_are_prefixes(r, clean))
    if kind == "log_open":
        return lambda r: check_all(
            exact("stdout", r.stdout, b""), exact("status", r.status, 1),
            exact("stderr", r.stderr, b"cmdclient: cannot open log file '%s': %s\n"
                  % (LOG.encode(), reason(fault))),
            exact("received", r.received, b""))
    if kind in ("log_write", "log_close"):
        return lambda r: log_failed(r, clean, reason(fault))
    if kind in ("file_open", "file_write", "file_close"):
        verb = b"open" if kind == "file_open" else b"write"
        return lambda r: redirect_failed(r, clean, verb, reason(fault))
    if kind == "malloc":
        return lambda r: out_of_memory(r, clean)
    raise AssertionError("no rule for %s %s" % (kind, fault))


def reconnected(run, clean, peer):
    """A send or receive that failed with --reconnect: the command's reply is
    cut short (the receive diagnostic, "Exception!") and the session goes on
    over a new connection with the next command, never this one again, the
    run ending with status 1; or the fault met the look before a send, and
    the client only connected again before it. Standard error has the clean
    run's lines and those saying so."""
    cut = run.stdout.count(b"Exception!\n")
    if cut == 0:
        problem = check_all(exact("stdout", run.stdout, clean.stdout),
                            exact("status", run.status, clean.status),
                            exact("received", run.received, clean.received),
                            exact("files", run.files, clean.files))
    elif cut == 1:
        before, after = run.stdout.split(b"Exception!\n")
        before = re.sub(rb"status == -1  errno == \d+ in Socket::recv\n$", b"", before)
        problem = check_all(is_prefix(before, clean.stdout, "stdout before the failure"),
                            None if after.startswith(b"Ok> ") and clean.stdout.endswith(after)
                            else "stdout after the failure %r is not the clean run's end" % after,
                            exact("status", run.status, 1),
                            sent_once_at_most(run, clean), files_are_prefixes(run, clean))
    else:
        problem = "stdout has %d Exception! lines" % cut
    if problem:
        return problem
    said = re.compile(rb"cmdclient: (connection to %s (closed by the server|lost: .+); connecting "
                      rb"again|connected to %s again|'[^']+': cut short after T)$"
                      % (re.escape(peer), re.escape(peer)))
    clean_lines = clean.stderr.splitlines()
    for line in run.stderr.splitlines():
        if line not in clean_lines and not said.match(line):
            return "stderr line %r is neither the clean run's nor a reconnect's" % line
    if run.stderr.count(b" again\n") not in (clean.stderr.count(b" again\n"),
                                              clean.stderr.count(b" again\n") + 2):
        return "stderr %r does not say each connect again once" % run.stderr
    return None


def sent_once_at_most(run, clean):
    """The server received the clean run's commands, one of them perhaps left
    out (its send failed), none twice."""
    commands = [command for command, _ in SESSIONS[run.session][1]]
    allowed = [b"".join(commands)] + [b"".join(commands[:i] + commands[i + 1:])
                                      for i in range(len(commands))]
    return None if run.received in allowed else "received %r: a command lost or sent twice" % (
        clip(run.received),)


def reconnect_failed(run, clean, kind, fault, peer):
    """The connect again failed: it ends the run as a failed connect at the start does."""
    message = b"Could not create client socket." if kind != "connect" else b"Could not bind to port."
    return check_all(
        ends_with_prefix(run.stdout, b"Exception was caught:" + message + b"\n\n", clean.stdout),
        stderr_then(run, clean, b"cmdclient: cannot connect to " + peer + b": " + reason(fault) +
                    b"\n"),
        exact("status", run.status, 1), is_prefix(run.received, clean.received, "received"))


def redirect_failed(run, clean, verb, why):
    """One line on stderr for the redirect file, added to the clean run's or
    in place of its line for the same file; everything else as clean."""
    lines = run.stderr.splitlines(keepends=True)
    clean_lines = clean.stderr.splitlines(keepends=True)
    extra = [line for line in lines if line not in clean_lines]
    names = [name.encode() for name in SESSIONS[run.session][2]]
    wanted = [b"cmdclient: cannot %s reply file '%s': %s\n" % (verb, name, why) for name in names]
    if len(lines) - len(clean_lines) not in (0, 1) or len(extra) != 1 or extra[0] not in wanted:
        return "stderr %r, expected the clean run's and one of %r" % (run.stderr, wanted)
    return check_all(exact("stdout", run.stdout, clean.stdout),
                     exact("status", run.status, clean.status),
                     exact("received", run.received, clean.received),
                     files_are_prefixes(run, clean))


def log_failed(run, clean, why):
    """One more line on stderr for the log, which is cut short; the session
    and its exit status as clean."""
    line = b"cmdclient: cannot write log file '%s': %s\n" % (LOG.encode(), why)
    lines = run.stderr.splitlines(keepends=True)
    if [l for l in lines if l != line] != clean.stderr.splitlines(keepends=True) or \
            lines.count(line) != 1:
        return "stderr %r, expected the clean run's and %r once" % (run.stderr, line)
    return check_all(exact("stdout", run.stdout, clean.stdout),
                     exact("status", run.status, clean.status),
                     exact("received", run.received, clean.received),
                     files_are_prefixes(run, clean),
                     is_prefix(run.log, clean.log, "the log"))


def out_of_memory(run, clean):
    # The C library may meet the failed allocation inside the redirect file's
    # open: that is a failed open, with the system's reason.
    if redirect_failed(run, clean, b"open", reason("ENOMEM")) is None:
        return None
    return check_all(is_prefix(run.stdout, clean.stdout, "stdout"),
                     stderr_then(run, clean, b"cmdclient: out of memory\n"),
                     exact("status", run.status, 1),
                     is_prefix(run.received, clean.received, "received"),
                     files_are_prefixes(run, clean))


# Ready storms: name -> (options before the port, whether a server listens,
# whether standard input is an endless stream of empty lines). The client is
# busy once standard error shows a retry, or once it has read many lines.
READY_STORMS = {
    # Refused at once, tried again without a pause: each wait is over at once.
    "retry": (["--retry", "1000000", "--retry-delay", "0"], False, False),
    # Standard input is always readable: each line is an empty command.
    "newlines": ([], True, True),
}
BUSY_INPUT = 256 << 10  # past the pipe's 64 KiB: the client reads on


def ready_storm(name):
    """None when SIGTERM ends the busy client by the signal within the
    deadline, else what went wrong."""
    options, listens, endless_input = READY_STORMS[name]
    server = Server([]) if listens else None
    refused = None
    if server:
        port = server.port
    else:
        refused = socket.socket()
        refused.bind(("127.0.0.1", 0))  # bound, never listening: refused
        port = refused.getsockname()[1]
    fed = [0]

    def feed(pipe):
        lines = b"\n" * 65536
        try:
            while True:
                fed[0] += os.write(pipe.fileno(), lines)
        except OSError:
            pass  # the client has ended

    with tempfile.TemporaryDirectory() as cwd, open(os.path.join(cwd, "stderr"), "w+b") as stderr:
        # Standard error is a file, which never makes the client wait.
        client = subprocess.Popen([CLIENT] + options + [str(port)], cwd=cwd,
                                  stdin=subprocess.PIPE if endless_input else subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=stderr)
        feeder = threading.Thread(target=feed, args=(client.stdin,), daemon=True)
        if endless_input:
            feeder.start()
        try:
            end = time.monotonic() + DEADLINE
            while not (fed[0] >= BUSY_INPUT if endless_input else
                       b"retrying" in open(stderr.name, "rb").read(4096)):
                if client.poll() is not None or time.monotonic() > end:
                    return "never got busy (status %s)" % client.poll()
                time.sleep(0.01)
            client.send_signal(signal.SIGTERM)
            try:
                status = client.wait(DEADLINE)
            except subprocess.TimeoutExpired:
                return "still running %.0f s after SIGTERM" % DEADLINE
        finally:
            if client.poll() is None:
                client.kill()
                client.wait()
            if endless_input:
                client.stdin.close()
                feeder.join()
            if server:
                server.finish()
            if refused:
                refused.close()
    if status != -signal.SIGTERM:
        return "status %d, expected the end by SIGTERM" % status
    return None


def cases(clean):
    for kind in KINDS:
        faults = FAULTS[kind]
        total = 1 if kind == "storm" else clean.calls[kind]
        for call in range(1, total + 1):
            if total * len(faults) <= FULL_PRODUCT_LIMIT:
                for fault in faults:
                    yield kind, call, fault
            else:
                yield kind, call, faults[(call - 1) % len(faults)]


def repro(case):
    return "CMDCLIENT=%s FAULT_SHIM=%s %s %s --only %s" % (
        shlex.quote(CLIENT), shlex.quote(SHIM), sys.executable,
        shlex.quote(os.path.abspath(__file__)), case)


def clean_run(session):
    first, second = Run(session), Run(session)
    if first.hung or first.outcome() != second.outcome() or first.calls != second.calls or \
            first.log != second.log:
        sys.exit("fault injection: the clean %s session is not repeatable (hung: %s)"
                 % (session, first.hung))
    if "-L" in OPTIONS.get(session, []) and log_matches_offered(first.log, first.offered):
        sys.exit("fault injection: the clean %s session's log: %s"
                 % (session, log_matches_offered(first.log, first.offered)))
    if first.calls["send"] != len(SESSIONS[session][1]):
        sys.exit("fault injection: the clean %s session sent %d times for %d commands"
                 % (session, first.calls["send"], len(SESSIONS[session][1])))
    return first


def show(run, clean, verdict):
    print("case %s: %s" % (run.case(), verdict or "sound"))
    for name, got, want in zip(["stdout", "stderr", "status", "received", "files"],
                               run.outcome(), clean.outcome()):
        print("  %-8s %r\n  %-8s %r" % (name, clip(got), "clean", clip(want)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", metavar="SESSION:KIND:CALL:FAULT")
    options = parser.parse_args()
    if not CLIENT or not SHIM:
        sys.exit("CMDCLIENT must name cmdclient and FAULT_SHIM the fault shim")
    if options.only and options.only.startswith("ready_storm:"):
        verdict = ready_storm(options.only.split(":")[1])
        print("case %s: %s" % (options.only, verdict or "sound"))
        return 1 if verdict else 0
    if options.only:
        session, kind, call, fault = options.only.split(":")
        clean = clean_run(session)
        run = Run(session, kind, int(call), fault)
        verdict = judge(run, clean)
        show(run, clean, verdict)
        return 1 if isinstance(verdict, str) else 0

    started = time.monotonic()
    cleans = {session: clean_run(session) for session in SESSIONS}
    matrix = [(session, case) for session in SESSIONS for case in cases(cleans[session])]
    defects, artefacts = [], []
    with concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
        runs = pool.map(lambda item: Run(item[0], *item[1]), matrix)
        for run in runs:
            verdict = judge(run, cleans[run.session])
            if isinstance(verdict, tuple):
                artefacts.append((run.case(), verdict[1]))
            elif verdict:
                defects.append((run.case(), verdict))
    for name in READY_STORMS:
        verdict = ready_storm(name)
        if verdict:
            defects.append(("ready_storm:" + name, verdict))
    for case, why in artefacts:
        print("artefact %s: %s" % (case, why))
    for case, why in defects:
        print("DEFECT %s: %s\n  repro: %s" % (case, why, repro(case)))
    print("fault injection: %d runs, %d defects (%d artefacts, %.0f s)"
          % (len(matrix) + len(READY_STORMS), len(defects), len(artefacts), time.monotonic() - started))
    return 1 if defects else 0


if __name__ == "__main__":
    sys.exit(main())
