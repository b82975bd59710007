"""Shared pieces of the end-to-end tests: running the real cmdclient and a
scripted fake command server on 127.0.0.1 with a port the system hands out.

Every wait here is bounded, so a misbehaving client fails a test instead of
hanging it."""

import contextlib
import errno
import os
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

CLIENT = os.environ.get("CMDCLIENT", "")
# A wall-clock limit for one client run; generous for slow sanitizer builds.
RUN_DEADLINE = float(os.environ.get("CMDCLIENT_TEST_DEADLINE", "30"))
# Extra words placed before the client's path, e.g. a memory checker.
CLIENT_PREFIX = os.environ.get("CMDCLIENT_PREFIX", "").split()

# A Windows build (run through an emulator) writes the console and redirect
# files in text mode: every "\n" arrives as "\r\n", and the program sees its own
# path as a Windows path.
WINDOWS = CLIENT.endswith(".exe")


def text(data):
    """Bytes as the client writes them to the console or a redirect file."""
    return data.replace(b"\n", b"\r\n") if WINDOWS else data


def program_name():
    """The client's own name as it prints it in messages."""
    if WINDOWS:
        return b"Z:" + os.path.abspath(CLIENT).replace("/", "\\").encode()
    return CLIENT.encode()


# The receive diagnostic after a reset names the platform's error number:
# WSAECONNRESET from Windows Sockets, ECONNRESET from errno elsewhere.
RESET_LINE = (b"status == -1  errno == %d in Socket::recv\n"
              % (10054 if WINDOWS else errno.ECONNRESET))


BANNER = text(b"Use decimal, C hex (0x2a) or Asm hex (14h) for input\n"
              b"Return data reported according to specified radix\n"
              b"Type 'help' or 'quit' to exit\n")


def run_client(args, stdin=b"", cwd=None, deadline=None):
    """Runs cmdclient to its end with `stdin` as its whole input."""
    if not CLIENT:
        sys.exit("CMDCLIENT must name the cmdclient executable")
    return subprocess.run(CLIENT_PREFIX + [CLIENT] + [str(a) for a in args],
                          input=stdin, capture_output=True, cwd=cwd,
                          timeout=deadline or RUN_DEADLINE)


@contextlib.contextmanager
def live_client(port, stdout=subprocess.PIPE):
    """Starts cmdclient with a pipe for its input, for tests that talk to it
    while it runs; it is killed if still running when the test is done."""
    client = subprocess.Popen(CLIENT_PREFIX + [CLIENT, str(port)], stdin=subprocess.PIPE,
                              stdout=stdout)
    try:
        yield client
    finally:
        if client.poll() is None:
            client.kill()
        client.wait()
        for stream in (client.stdin, client.stdout):
            if stream is not None:
                stream.close()


class InTemporaryDirectory:
    """Mixin for test cases: each test runs with `self.cwd`, a fresh directory."""

    def setUp(self):
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        self.cwd = directory.name

    def file(self, name):
        with open(os.path.join(self.cwd, name), "rb") as f:
            return f.read()


def refused_port():
    """A bound socket that does not listen, and its port: connects are refused
    for as long as the socket is kept open."""
    holder = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    holder.bind(("127.0.0.1", 0))
    return holder, holder.getsockname()[1]


# Script steps for FakeServer.
def expect(data):
    """Receive exactly these bytes (the test fails on anything else)."""
    return ("expect", data)


def send(data):
    """Send these bytes as they are; the client may receive them in any split."""
    return ("send", data)


def chunk(data):
    """Send these bytes and wait until the client has read them all, so that
    they reach it as one receive (up to 500 bytes) and apart from what follows."""
    return ("chunk", data)


def pause(seconds):
    return ("pause", seconds)


def wait_for(event):
    """Wait until the test sets this threading.Event."""
    return ("wait", event)


def close():
    """Orderly close of the connection."""
    return ("close", None)


def reset():
    """Abortive close: the client sees a connection reset."""
    return ("reset", None)


def session(test, script, stdin, cwd=None, args=()):
    """Runs the client against a FakeServer playing `script`; checks that the
    server saw what it expected and returns (client result, server)."""
    with FakeServer(script) as server:
        result = run_client([server.port] + list(args), stdin, cwd=cwd)
    test.assertEqual(server.failures, [], "server script: %r" % result.stdout[-200:])
    return result, server


def transcript(*console):
    """The whole console output of a run that connects and ends normally."""
    return BANNER + text(b"Ok> " + b"".join(console) + b"\n")


class FakeServer:
    """Accepts one connection on 127.0.0.1 and plays `script`; records every
    byte received. After the script, keeps reading until the client closes."""

    def __init__(self, script, watchdog=None):
        self.script = list(script)
        self.watchdog = watchdog or RUN_DEADLINE
        self.received = b""
        self.failures = []
        self.connected = threading.Event()
        self.peer_closed = threading.Event()
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(4)
        self.port = self._listener.getsockname()[1]
        self._connection = None
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        self._thread.join(self.watchdog + 5)
        self._listener.close()

    def _serve(self):
        end = time.monotonic() + self.watchdog
        self._listener.settimeout(self.watchdog)
        try:
            connection, _ = self._listener.accept()
        except OSError:
            return
        self._connection = connection
        self.connected.set()
        try:
            closed = False
            for action, argument in self.script:
                connection.settimeout(max(0.1, end - time.monotonic()))
                if action == "expect":
                    self._expect(connection, argument)
                elif action == "send":
                    connection.sendall(argument)
                elif action == "chunk":
                    connection.sendall(argument)
                    self._wait_drained(connection, end)
                elif action == "pause":
                    time.sleep(argument)
                elif action == "wait":
                    if not argument.wait(max(0.1, end - time.monotonic())):
                        raise OSError("the test never gave the go-ahead")
                elif action == "close":
                    connection.shutdown(socket.SHUT_WR)
                    closed = True
                    break
                elif action == "reset":
                    connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                          struct.pack("ii", 1, 0))
                    closed = True
                    break
            if not closed:
                self._read_until_closed(connection, end)
        except OSError as error:
            self.failures.append("server: %s" % error)
        finally:
            connection.close()

    def _expect(self, connection, data):
        got = b""
        while len(got) < len(data):
            piece = connection.recv(len(data) - len(got))
            if not piece:
                break
            got += piece
        self.received += got
        if got != data:
            self.failures.append("expected %r, received %r" % (data[:80], got[:80]))
            raise OSError("unexpected command")

    def _read_until_closed(self, connection, end):
        while time.monotonic() < end:
            connection.settimeout(max(0.1, end - time.monotonic()))
            try:
                piece = connection.recv(65536)
            except socket.timeout:
                break
            except ConnectionResetError:
                piece = b""
            if not piece:
                self.peer_closed.set()
                return
            self.received += piece

    def _wait_drained(self, connection, end):
        """Waits until the client has read everything sent so far: its receive
        queue, as the kernel lists it, is empty. Falls back to a pause where the
        kernel's table cannot be read."""
        local = connection.getsockname()[1]
        remote = connection.getpeername()[1]
        # The client's side of the connection: its port local, ours remote.
        key = "0100007F:%04X 0100007F:%04X" % (remote, local)
        while time.monotonic() < end:
            try:
                with open("/proc/net/tcp") as table:
                    rows = [line.split() for line in table if key in line]
            except OSError:
                time.sleep(0.2)
                return
            if not rows:
                time.sleep(0.2)
                return
            tx_rx = rows[0][4].split(":")
            if int(tx_rx[1], 16) == 0 and self._send_queue_empty(connection):
                return
            time.sleep(0.002)

    @staticmethod
    def _send_queue_empty(connection):
        """True once everything we sent has left our side (Linux SIOCOUTQ)."""
        try:
            import fcntl
            import termios
            pending = fcntl.ioctl(connection, termios.TIOCOUTQ, struct.pack("i", 0))
            return struct.unpack("i", pending)[0] == 0
        except (ImportError, OSError):
            return True
