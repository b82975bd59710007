"""Every wait can be ended: a stop signal while a write or a send is blocked
(a terminal that does not read included), a send that the system refuses for
a while, and a send that fails for good."""

import fcntl
import os
import platform
import select
import shutil
import signal
import socket
import struct
import subprocess
import termios
import threading
import time
import unittest

from harness import (BANNER, CLIENT, CLIENT_PREFIX, RUN_DEADLINE, FakeServer, chunk, close,
                     expect, refused_port, send, transcript, wait_for)
from terminal import TerminalTest

XOFF = b"\x13"  # Ctrl-S: the terminal stops output until Ctrl-Q
# The number of write(2), as /proc/PID/syscall shows a call that blocks.
WRITE_CALL = {"x86_64": "1", "aarch64": "64"}.get(platform.machine())

STRACE = shutil.which("strace")


def queued(fd):
    """Bytes waiting to be read on a pipe or a socket (FIONREAD)."""
    return struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, struct.pack("i", 0)))[0]


def writing_standard_output(pid):
    """True while the process is inside a write to descriptor 1."""
    try:
        with open("/proc/%d/syscall" % pid) as f:
            call = f.read().split()
    except OSError:
        return False
    return len(call) > 1 and call[0] == WRITE_CALL and int(call[1], 16) == 1


def terminal_takes_no_more(pid):
    """True while the terminal on the process's standard output takes no more
    (stopped by Ctrl-S): a write to it then blocks."""
    fd = os.open(os.readlink("/proc/%d/fd/1" % pid), os.O_WRONLY | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        return not select.select([], [fd], [], 0)[1]
    finally:
        os.close(fd)


def wait_until(condition, what):
    end = time.monotonic() + RUN_DEADLINE
    while not condition():
        if time.monotonic() > end:
            raise AssertionError("never happened: " + what)
        time.sleep(0.01)


@unittest.skipIf(CLIENT_PREFIX, "a memory checker reports a death by signal its own way")
class StopWhileBlocked(unittest.TestCase):

    def test_a_stop_signal_ends_a_run_whose_reader_does_not_read(self):
        # Standard output is a pipe nobody reads: the client blocks writing it.
        read_end, write_end = os.pipe()
        go_on = threading.Event()
        script = [expect(b"dump"), send(b"y" * 400000), wait_for(go_on)]
        with FakeServer(script) as server:
            client = subprocess.Popen(CLIENT_PREFIX + [CLIENT, str(server.port)],
                                      stdin=subprocess.PIPE, stdout=write_end,
                                      stderr=subprocess.PIPE)
            os.close(write_end)
            try:
                client.stdin.write(b"dump\n")
                client.stdin.flush()
                # Full to its last page: what the client holds has nowhere to go.
                wait_until(lambda: queued(read_end) >= 61440, "a full pipe")
                client.send_signal(signal.SIGTERM)
                client.wait(timeout=RUN_DEADLINE)
            finally:
                go_on.set()
                if client.poll() is None:
                    client.kill()
                    client.wait()
                os.close(read_end)
        self.assertEqual(client.returncode, -signal.SIGTERM)

    def test_a_stop_signal_ends_a_run_whose_error_reader_does_not_read(self):
        # Standard error is a pipe that is full before the client starts.
        read_end, write_end = os.pipe()
        os.set_blocking(write_end, False)
        try:
            while True:
                os.write(write_end, b"x" * 4096)
        except BlockingIOError:
            os.set_blocking(write_end, True)
        with FakeServer([expect(b"regs"), close()]) as server:
            client = subprocess.Popen(CLIENT_PREFIX + [CLIENT, str(server.port)],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      stderr=write_end)
            os.close(write_end)
            try:
                client.stdin.write(b"regs\n")
                client.stdin.flush()
                # Standard output is written out before the reason goes to standard error.
                shown = b""
                while not shown.endswith(b"Exception!\n"):
                    self.assertTrue(select.select([client.stdout], [], [], RUN_DEADLINE)[0])
                    piece = os.read(client.stdout.fileno(), 4096)
                    self.assertTrue(piece, shown)
                    shown += piece
                client.send_signal(signal.SIGTERM)
                client.wait(timeout=RUN_DEADLINE)
            finally:
                if client.poll() is None:
                    client.kill()
                    client.wait()
                os.close(read_end)
        self.assertEqual(client.returncode, -signal.SIGTERM)

    def test_a_stop_signal_ends_a_send_the_server_does_not_take(self):
        # A command far larger than the connection's buffers, to a server that
        # never reads: the client blocks sending it.
        listener = socket.create_server(("127.0.0.1", 0))
        command = b"c" * (20 << 20) + b"\n"
        client = subprocess.Popen(CLIENT_PREFIX + [CLIENT, str(listener.getsockname()[1])],
                                  stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.PIPE)
        feeder = threading.Thread(target=self._feed, args=(client, command))
        try:
            listener.settimeout(RUN_DEADLINE)
            peer, _ = listener.accept()
            feeder.start()
            wait_until(lambda: queued(peer.fileno()) > 0, "the first bytes of the command")
            client.send_signal(signal.SIGTERM)
            client.wait(timeout=RUN_DEADLINE)
        finally:
            if client.poll() is None:
                client.kill()
                client.wait()
            if feeder.is_alive():
                feeder.join()
            listener.close()
        self.assertEqual(client.returncode, -signal.SIGTERM)

    @staticmethod
    def _feed(client, command):
        try:
            client.stdin.write(command)
            client.stdin.close()
        except (BrokenPipeError, ValueError):
            pass  # the client ended first, as it should


@unittest.skipUnless(WRITE_CALL, "needs /proc/PID/syscall with a known write call number")
@unittest.skipIf(CLIENT_PREFIX, "a memory checker reports a death by signal its own way")
class StopAtATerminalThatDoesNotRead(TerminalTest, unittest.TestCase):

    def test_sigterm_ends_the_run_while_the_terminal_holds_its_output(self):
        # Ctrl-S stops the terminal's output (the screen is still read, and
        # shows nothing more): the write blocks, and the write-out as the run
        # ends must give up after its half second.
        go_on = threading.Event()
        self.addCleanup(go_on.set)
        server, client = self.start([expect(b"dump"), chunk(b"first part\n"), wait_for(go_on),
                                     send(b"y" * (1 << 20))])
        client.type(b"dump\r")
        client.wait_for_line("first part")
        client.type(XOFF)
        pid = client.process.pid
        wait_until(lambda: terminal_takes_no_more(pid), "the terminal stopped by Ctrl-S")
        go_on.set()
        wait_until(lambda: writing_standard_output(pid), "a write to the terminal that blocks")
        client.process.send_signal(signal.SIGTERM)
        self.assertEqual(client.wait_exit(), -signal.SIGTERM)


@unittest.skipUnless(STRACE, "needs strace (Debian package strace) to inject send errors")
@unittest.skipIf(CLIENT_PREFIX, "strace and a memory checker cannot both trace the client")
class SendErrors(unittest.TestCase):

    def traced(self, call, error, port):
        """The client with the first `call` failing with `error` (strace)."""
        # The leak checker cannot run under a tracer; the rest of the sanitizers can.
        env = dict(os.environ)
        if "ASAN_OPTIONS" in env:
            env["ASAN_OPTIONS"] += ":detect_leaks=0"
        return subprocess.run(
            [STRACE, "-f", "-qq", "-o", os.devnull, "-e", "trace=" + call,
             "-e", "inject=%s:error=%s:when=1" % (call, error), CLIENT, str(port)],
            input=b"regs\n", capture_output=True, timeout=RUN_DEADLINE, env=env)

    def run_with_failed_send(self, error, script):
        with FakeServer(script) as server:
            result = self.traced("sendto", error, server.port)
        return result, server

    def test_a_transient_error_is_waited_out(self):
        for error in ("ENOBUFS", "ENOMEM", "EAGAIN"):
            with self.subTest(error):
                result, server = self.run_with_failed_send(
                    error, [expect(b"regs"), chunk(b"A=1\nOk")])
                self.assertEqual((result.returncode, result.stdout, result.stderr),
                                 (0, transcript(b"A=1\nOk> "), b""))
                self.assertEqual(server.received, b"regs")

    def test_a_real_error_ends_the_run_with_its_reason(self):
        result, server = self.run_with_failed_send("ETIMEDOUT", [])
        self.assertEqual((result.returncode, result.stdout), (1, transcript(b"Exception!\n")))
        self.assertRegex(result.stderr, rb"^cmdclient: connection to localhost port \d+ lost: "
                                        rb"Connection timed out\n$")
        self.assertEqual(server.received, b"")

    def test_a_connect_without_a_free_local_port_fails(self):
        # EAGAIN from connect means no local port was free, not "in progress".
        holder, port = refused_port()
        with holder:
            result = self.traced("connect", "EAGAIN", port)
        self.assertEqual((result.returncode, result.stdout),
                         (1, BANNER + b"Exception was caught:Could not bind to port.\n\n"))
        self.assertRegex(result.stderr, rb"^cmdclient: cannot connect to localhost port \d+: "
                                        rb"Resource temporarily unavailable\n$")


if __name__ == "__main__":
    unittest.main()
