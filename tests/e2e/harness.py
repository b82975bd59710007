"""Shared pieces of the end-to-end tests: running the real cmdclient and a
scripted fake command server on 127.0.0.1 with a port the system hands out.

Every wait here is bounded, so a misbehaving client fails a test instead of
hanging it."""

import contextlib
import errno
import os
import select
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


def check_loss_reported(test, result):
    """A lost connection costs one line on standard error: after a receive
    error (whose diagnostic is on standard output) or a send that failed,
    'lost' and the system's reason, after the server's close 'closed by the
    server'."""
    if b"Exception was caught:" in result.stdout:  # wine: the connect itself met the reset
        test.assertRegex(result.stderr, rb"^cmdclient: cannot connect to .*\r?\n$")
    elif b"errno == " in result.stdout:
        reason = rb".+" if WINDOWS else rb"Connection reset by peer"
        test.assertRegex(result.stderr,
                         rb"^cmdclient: connection to localhost port \d+ lost: " + reason +
                         rb"\r?\n$")
    else:
        # A send that meets the reset says so; without one, the close is seen.
        reason = rb".+" if WINDOWS else rb"(Connection reset by peer|Broken pipe)"
        test.assertRegex(result.stderr, rb"^cmdclient: connection to localhost port \d+ "
                                        rb"(closed by the server|lost: " + reason + rb")\r?\n$")


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


def notify(event):
    """Set this threading.Event, telling the test the script got this far."""
    return ("notify", event)


def close():
    """Orderly close of the connection."""
    return ("close", None)


def reset():
    """Abortive close: the client sees a connection reset."""
    return ("reset", None)


def session(test, script, stdin, cwd=None, args=(), options=()):
    """Runs the client against a FakeServer playing `script` (with `options`
    before the port, `args` after it); checks that the server saw what it
    expected and returns (client result, server)."""
    with FakeServer(script) as server:
        result = run_client(list(options) + [server.port] + list(args), stdin, cwd=cwd)
    test.assertEqual(server.failures, [], "server script: %r" % result.stdout[-200:])
    return result, server


def transcript(*console):
    """The whole console output of a run that connects and ends normally."""
    return BANNER + text(b"Ok> " + b"".join(console) + b"\n")


class HarnessError(Exception):
    """The harness cannot do what a test asked of it."""


class PeerGone(HarnessError):
    """The peer's side of the connection is no longer in the kernel's table."""


TCP_TABLE = "/proc/net/tcp"


def _table_address(address):
    """An IPv4 (host, port) as TCP_TABLE prints it: the address's four bytes
    (network order) read as one 32-bit number in this machine's byte order,
    and the port as a number, both in hex."""
    host, port = address
    return "%08X:%04X" % (int.from_bytes(socket.inet_aton(host), sys.byteorder), port)


def _unsent(connection):
    """Bytes sent on `connection` that the peer has not acknowledged (Linux SIOCOUTQ)."""
    try:
        import fcntl
        import termios
        pending = fcntl.ioctl(connection, termios.TIOCOUTQ, struct.pack("i", 0))
    except (ImportError, OSError) as error:
        raise HarnessError("cannot read the send queue: %s" % error) from error
    return struct.unpack("i", pending)[0]


def _peer_unread(local, remote):
    """Bytes in the receive queue of the socket at `local` connected to `remote`."""
    try:
        with open(TCP_TABLE) as table:
            rows = [line.split() for line in table]
    except OSError as error:
        raise HarnessError("cannot read %s: %s" % (TCP_TABLE, error)) from error
    for row in rows[1:]:
        if row[1:3] == [local, remote]:
            return int(row[4].split(":")[1], 16)
    raise PeerGone("the connection %s -> %s is not in %s (closed by the peer, or looked up wrongly)"
                   % (local, remote, TCP_TABLE))


def wait_drained(connection, end):
    """Waits until the peer of `connection` has read everything sent on it so
    far. First our send queue must be empty: bytes still there have not reached
    the peer's receive queue, which is checked next, as the kernel lists it.
    Raises HarnessError when either queue cannot be read or `end` (a
    time.monotonic() value) passes first."""
    # The peer's side of the connection: its address local, ours remote.
    peer = _table_address(connection.getpeername())
    ours = _table_address(connection.getsockname())
    while time.monotonic() < end:
        if _unsent(connection) == 0 and _peer_unread(peer, ours) == 0:
            return
        time.sleep(0.002)
    raise HarnessError("the peer did not read everything sent to it before the deadline")


class FakeServer:
    """Accepts one connection on 127.0.0.1 and plays `script`; records every
    byte received. After the script, keeps reading until the client closes."""

    def __init__(self, script, watchdog=None):
        self.script = list(script)
        self.watchdog = watchdog or RUN_DEADLINE
        self.received = b""
        self.failures = []
        self._broken = None
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

    def hang_up(self):
        """Ends the connection from this side, so that a script still waiting
        on the client (a test that failed half-way) ends at once."""
        if self._connection is not None:
            try:
                self._connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def stop(self):
        self._thread.join(self.watchdog + 5)
        self._listener.close()
        if self._broken:
            raise AssertionError("fake server: %s" % self._broken)

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
                    wait_drained(connection, end)
                elif action == "pause":
                    time.sleep(argument)
                elif action == "wait":
                    if not argument.wait(max(0.1, end - time.monotonic())):
                        raise OSError("the test never gave the go-ahead")
                elif action == "notify":
                    argument.set()
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
        except HarnessError as error:
            # Not the client's fault, and the script cannot go on: fail the test.
            self._broken = str(error)
            self.failures.append("server: %s" % error)
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


class SegmentingProxy:
    """Sits between the client and a server on 127.0.0.1 (connect the client to
    `port`). What the client sends goes to the server unchanged. What the server
    sends reaches the client in segments of `segment` bytes (default: the
    payload of one Ethernet-sized TCP segment), each sent only once the client
    has read all of the one before, so that the client's receives end where the
    segments end: 500-byte receives of 1448-byte segments take 500, 500, 448,
    500, ... A segment is shorter only when the server has sent nothing more by
    the time it is cut. A close (or reset) on either side reaches the other as a
    close: when the server closes, the client gets the rest and then the close,
    and what it still sends goes on to the server until it closes too; when the
    client closes, nothing more is delivered. The proxy then stops on its own,
    at the latest at the watchdog's deadline. Anything that went wrong is
    listed in `failures`."""

    def __init__(self, upstream_port, segment=1448, watchdog=None):
        self.segment = segment
        self.failures = []
        self._upstream_port = upstream_port
        self._end = time.monotonic() + (watchdog or RUN_DEADLINE)
        self._listener = socket.create_server(("127.0.0.1", 0))
        self.port = self._listener.getsockname()[1]
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self._thread.join(max(0, self._end - time.monotonic()) + 5)
        self._listener.close()

    def _remaining(self):
        return max(0.1, self._end - time.monotonic())

    def _run(self):
        self._listener.settimeout(self._remaining())
        try:
            client, _ = self._listener.accept()
        except OSError:
            return
        with client:
            try:
                upstream = socket.create_connection(("127.0.0.1", self._upstream_port),
                                                    timeout=self._remaining())
            except OSError as error:
                self.failures.append("proxy: cannot reach the server: %s" % error)
                return
            with upstream:
                client.settimeout(self._remaining())
                upstream.settimeout(self._remaining())
                pumps = [threading.Thread(target=self._forward, args=(client, upstream),
                                          daemon=True),
                         threading.Thread(target=self._deliver, args=(upstream, client),
                                          daemon=True)]
                for pump in pumps:
                    pump.start()
                for pump in pumps:
                    pump.join(self._remaining() + 5)

    def _forward(self, client, upstream):
        """Client to server, unchanged."""
        try:
            while True:
                piece = client.recv(65536)
                if not piece:
                    break
                upstream.sendall(piece)
        except socket.timeout:
            self.failures.append("proxy: the client side outlived the deadline")
        except OSError:
            pass  # a reset ends this direction like a close
        # The client is gone: close towards the server and stop reading from it,
        # which also ends the other direction.
        _shut(upstream, socket.SHUT_RDWR)

    def _deliver(self, source, target):
        """Server to client, one segment at a time."""
        pending = b""
        ended = False
        try:
            while pending or not ended:
                # Wait for the server only when nothing is left to send; top a
                # short segment up with whatever has already arrived.
                while not ended and (not pending or (len(pending) < self.segment and
                                                     select.select([source], [], [], 0)[0])):
                    piece = source.recv(65536)
                    ended = not piece
                    pending += piece
                if pending:
                    target.sendall(pending[:self.segment])
                    pending = pending[self.segment:]
                    wait_drained(target, self._end)
        except PeerGone:
            pass  # the client closed: nothing more to deliver
        except HarnessError as error:
            self.failures.append("proxy: %s" % error)
        except socket.timeout:
            self.failures.append("proxy: the server side outlived the deadline")
        except OSError:
            pass  # a reset ends this direction like a close
        _shut(target, socket.SHUT_WR)


def _shut(connection, how):
    try:
        connection.shutdown(how)
    except OSError:
        pass  # already closed by the other side
