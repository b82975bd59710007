"""A session that outlives its connection (--reconnect), commands sent again
and again (-r, -i), each reply's time (--timing) and commands from files (-f)."""

import os
import re
import select
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time
import unittest
from unittest import mock

from harness import (BANNER, CLIENT, CLIENT_PREFIX, RUN_DEADLINE, TCP_TABLE, WINDOWS,
                     FakeServer, InTemporaryDirectory, _table_address, chunk, close, expect, notify,
                     run_client, session, text, transcript, wait_drained)

ESTABLISHED = "01"  # the state /proc/net/tcp shows for a socket before any close


def wait_client_saw_close(ours, client, end):
    """Waits until the client's end of the connection from `client` to `ours`
    (as TCP_TABLE writes them) has taken in our close, or is gone."""
    while time.monotonic() < end:
        with open(TCP_TABLE) as table:
            if not any(row.split()[1:4] == [client, ours, ESTABLISHED] for row in table):
                return
        time.sleep(0.002)
    raise AssertionError("the client never saw the close")


class Connections:
    """Serves one connection after another on one port of 127.0.0.1, the Nth
    playing the Nth script (the harness's steps; ("away", event) closes the
    listener, to listen again for the next connection once the event is set;
    ("answer", reply) answers every command with `reply` until the client
    closes). Records what each connection received, and when each command was
    complete."""

    def __init__(self, scripts):
        self.scripts = list(scripts)
        self.received = []
        self.times = []
        self.failures = []
        self.closed_seen = threading.Event()
        self._back = None
        self._stop = threading.Event()
        self._listener = self._listen(0)
        self.port = self._listener.getsockname()[1]
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join(RUN_DEADLINE)
        self._listener.close()

    @staticmethod
    def _listen(port):
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", port))
        listener.listen(4)
        listener.settimeout(0.05)
        return listener

    def _serve(self):
        end = time.monotonic() + RUN_DEADLINE
        for script in self.scripts:
            connection = None
            while connection is None and time.monotonic() < end:
                if self._back is not None:
                    if self._stop.is_set():
                        return
                    if self._back.wait(0.05):
                        self._back = None
                        self._listener = self._listen(self.port)
                    continue
                # Looked at once more after the stop: a connection the client
                # made before it ended counts.
                stopping = self._stop.is_set()
                try:
                    connection, _ = self._listener.accept()
                except socket.timeout:
                    if stopping:
                        return
            self.received.append(b"")
            with connection:
                try:
                    self._play(connection, script, end)
                except OSError as error:
                    self.failures.append("server: %s" % error)

    def _play(self, connection, script, end):
        connection.settimeout(max(0.1, end - time.monotonic()))
        ends = [_table_address(a) for a in (connection.getsockname(), connection.getpeername())]
        for action, argument in script:
            if action == "expect":
                got = b""
                while len(got) < len(argument):
                    piece = connection.recv(len(argument) - len(got))
                    if not piece:
                        break
                    got += piece
                self.received[-1] += got
                self.times.append(time.monotonic())
                if got != argument:
                    self.failures.append("expected %r, received %r" % (argument, got))
                    return
            elif action == "chunk":
                connection.sendall(argument)
                wait_drained(connection, end)
            elif action == "send":
                connection.sendall(argument)
            elif action == "notify":
                argument.set()
            elif action == "away":
                self._listener.close()
                self._back = argument
            elif action == "answer":
                while True:
                    try:
                        piece = connection.recv(65536)
                    except ConnectionResetError:
                        return
                    if not piece:
                        return
                    self.received[-1] += piece
                    self.times.append(time.monotonic())
                    connection.sendall(argument)
            elif action == "close":
                connection.shutdown(socket.SHUT_WR)
                wait_client_saw_close(*ends, end)
                self.closed_seen.set()
                break
        while True:  # what the client still sends, until it closes
            try:
                piece = connection.recv(65536)
            except (socket.timeout, ConnectionResetError):
                return
            if not piece:
                return
            self.received[-1] += piece


def away(event):
    return ("away", event)


def answer(reply):
    return ("answer", reply)


class LiveClient:
    """cmdclient with a pipe for its input; standard error is read as it comes."""

    def __init__(self, args, env=None):
        self.process = subprocess.Popen(CLIENT_PREFIX + [CLIENT] + [str(a) for a in args],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=env)
        self.stderr = b""

    def type(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def wait_for_error(self, pattern):
        """Reads standard error until `pattern` shows in it."""
        end = time.monotonic() + RUN_DEADLINE
        while not re.search(pattern, self.stderr):
            left = end - time.monotonic()
            if left <= 0 or not select.select([self.process.stderr], [], [], left)[0]:
                raise AssertionError("never said %r: %r" % (pattern, self.stderr))
            piece = os.read(self.process.stderr.fileno(), 4096)
            if not piece:
                raise AssertionError("ended without saying %r: %r" % (pattern, self.stderr))
            self.stderr += piece

    def finish(self, stdin=b""):
        stdout, stderr = self.process.communicate(stdin, timeout=RUN_DEADLINE)
        self.stderr += stderr
        return stdout, self.process.returncode

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.communicate()


def peer(port):
    return b"localhost port %d" % port


@unittest.skipIf(WINDOWS, "the test server reads Linux's table of TCP connections")
class Reconnect(unittest.TestCase):

    def test_a_close_between_commands_costs_nothing(self):
        # The second case: the server is away until the client has had its
        # connect refused once, so --retry is what brings it back.
        for options, goes_away in [(["--reconnect"], False),
                                   (["--reconnect", "--retry", "50", "--retry-delay", "0.05"],
                                    True)]:
            with self.subTest(options=options):
                back = threading.Event()
                first = ([away(back)] if goes_away else []) + [expect(b"one"), chunk(b"1\nOk"),
                                                                close()]
                with Connections([first, [expect(b"two"), chunk(b"2\nOk")]]) as server:
                    client = LiveClient(options + [server.port])
                    try:
                        client.type(b"one\n")
                        self.assertTrue(server.closed_seen.wait(RUN_DEADLINE))
                        client.type(b"two\n")
                        if goes_away:
                            client.wait_for_error(rb"retrying in 0\.05 s \(attempt 1 of 51\)")
                            back.set()
                        stdout, status = client.finish()
                    finally:
                        client.kill()
                self.assertEqual(server.failures, [])
                self.assertEqual(server.received, [b"one", b"two"])
                self.assertEqual((stdout, status), (transcript(b"1\nOk> 2\nOk> "), 0))
                lines = client.stderr.splitlines()
                self.assertEqual(lines[0], b"cmdclient: connection to " + peer(server.port) +
                                 b" closed by the server; connecting again")
                self.assertEqual(lines[-1], b"cmdclient: connected to " + peer(server.port) +
                                 b" again")
                self.assertEqual(len(lines), 3 if goes_away else 2)

    def test_bytes_sent_unasked_keep_the_connection(self):
        # They start the next reply, as without the option: the close after
        # them cuts that reply short.
        first = [expect(b"one"), chunk(b"1\nOk"), ("send", b"early "), close()]
        with Connections([first, []]) as server:
            client = LiveClient(["--reconnect", server.port])
            try:
                client.type(b"one\n")
                self.assertTrue(server.closed_seen.wait(RUN_DEADLINE))
                stdout, status = client.finish(b"two\n")
            finally:
                client.kill()
        self.assertEqual(server.received, [b"onetwo", b""])
        self.assertEqual((stdout, status), (transcript(b"1\nOk> early Exception!\nOk> "), 1))

    def test_a_reply_cut_short_is_never_sent_again(self):
        # Options, the connections' scripts, what each received, standard
        # output after the banner, standard error, status.
        part = [expect(b"mem 0 600"), chunk(b"0000: 00"), close()]
        cut = b"Ok> 0000: 00Exception!\n"
        cases = [
            (["--reconnect"], [part, [expect(b"regs"), chunk(b"A=1\nOk")]],
             [b"mem 0 600", b"regs"], cut + b"Ok> A=1\nOk> \n",
             [b" closed by the server; connecting again", b"connected to %s again"], 1),
            # -e stops there as without --reconnect: no second connection.
            (["--reconnect", "-e"], [part, []], [b"mem 0 600"], cut + b"\n",
             [b" closed by the server"], 1),
            # No connect succeeds: as a failed connect at the start.
            (["--reconnect"], [[away(threading.Event())] + part, []], [b"mem 0 600"],
             cut + b"Exception was caught:Could not bind to port.\n\n",
             [b" closed by the server; connecting again",
              b"cannot connect to %s: Connection refused"], 1),
            # terminate's cut reply ends the run.
            (["--reconnect"], [[expect(b"terminate"), chunk(b"by"), close()], []],
             [b"terminate"], b"Ok> byException!\n\n", [b" closed by the server"], 1),
        ]
        for options, scripts, received, shown, errors, status in cases:
            with self.subTest(options=options, received=received):
                with Connections(scripts) as server:
                    result = run_client(options + [server.port],
                                        received[0] + b"\nregs\n" + b"quit\n")
                self.assertEqual(server.failures, [])
                self.assertEqual(server.received, received)
                self.assertEqual((result.stdout, result.returncode), (BANNER + shown, status))
                expected = [b"cmdclient: connection to %s" % peer(server.port) + errors[0]]
                expected += [b"cmdclient: " + line.replace(b"%s", peer(server.port))
                             for line in errors[1:]]
                self.assertEqual(result.stderr.splitlines(), expected)

    def test_a_stop_signal_ends_the_retry_pause(self):
        with Connections([[away(threading.Event()), expect(b"regs"), chunk(b"A="), close()],
                          []]) as server:
            client = LiveClient(["--reconnect", "--retry", "3", "--retry-delay", "60",
                                 server.port])
            try:
                client.type(b"regs\nnext\n")
                client.wait_for_error(rb"retrying in 60 s \(attempt 1 of 4\)")
                client.process.send_signal(signal.SIGTERM)
                stdout, status = client.finish()
            finally:
                client.kill()
        self.assertEqual((status, stdout), (-signal.SIGTERM, BANNER + b"Ok> A=Exception!\n"))
        self.assertEqual(server.received, [b"regs"])


class Repeat(unittest.TestCase):

    def test_each_repetition_is_an_exchange_after_a_pause(self):
        script = [expect(b"regs"), chunk(b"A=1\nOk")] * 3 + [expect(b"mem"), chunk(b"0\nOk")] * 3
        with Connections([script]) as server:
            result = run_client(["-r", "3", "-i", "0.2", "--echo", server.port],
                                b"regs\nmem\n\n")
        self.assertEqual(server.failures, [])
        self.assertEqual(server.received, [b"regs" * 3 + b"mem" * 3])
        self.assertEqual(result.stdout, transcript(b"regs\nA=1\nOk> " * 3 + b"mem\n0\nOk> " * 3 +
                                                   b"\nOk> "))
        for first, second in [(0, 1), (1, 2), (3, 4), (4, 5)]:
            self.assertGreaterEqual(server.times[second] - server.times[first], 0.2)

    @unittest.skipIf(CLIENT_PREFIX, "a memory checker reports a death by signal its own way")
    def test_until_stopped(self):
        with Connections([[answer(b"n\nOk")]]) as server:
            client = LiveClient(["-r", "0", server.port])
            try:
                client.type(b"ping\n")
                deadline = time.monotonic() + RUN_DEADLINE
                while len(server.times) < 5 and time.monotonic() < deadline:
                    time.sleep(0.01)
                client.process.send_signal(signal.SIGTERM)
                stdout, status = client.finish()
            finally:
                client.kill()
        self.assertEqual(status, -signal.SIGTERM)
        self.assertRegex(stdout, re.escape(BANNER) + rb"Ok> (n\nOk> ){4,}\Z")
        self.assertRegex(server.received[0], rb"^(ping){5,}\Z")

    @unittest.skipIf(WINDOWS, "needs a pseudo-terminal and the line editor")
    def test_ctrl_c_at_a_terminal_ends_the_repetitions(self):
        from terminal import TerminalClient  # pyte is needed here alone
        with FakeServer([expect(b"regs"), chunk(b"A=1 Ok")]) as server, \
                tempfile.TemporaryDirectory() as home:
            client = TerminalClient(server.port, home, command=CLIENT_PREFIX + [
                CLIENT, "-r", "0", "-i", "60", "--timing", str(server.port)])
            try:
                client.wait_for_prompt()
                client.type(b"regs\r")
                # The reply did not end its line: the time starts a row of its own.
                client.wait_for(lambda lines: re.match(r"cmdclient: 'regs': \d+\.\d{3} ms$",
                                                       lines[5]), "the time")
                self.assertEqual(client.lines()[3:5], ["Ok> regs", "A=1"])
                client.interrupt()
                client.wait_for_prompt(after=client.lines()[5])
                client.type(b"quit\r")
                self.assertEqual(client.wait_exit(), 0)
            finally:
                client.close()
        self.assertEqual(server.received, b"regs")

    def test_a_lost_reply_ends_the_repetitions_unless_reconnecting(self):
        cut = [expect(b"regs"), chunk(b"A=1\nOk"), expect(b"regs"), chunk(b"A"), close()]
        for options, scripts, received, shown in [
                ([], [cut], [b"regsregs"], b"A=1\nOk> AException!\n"),
                (["--reconnect"], [cut, [expect(b"regs"), chunk(b"A=3\nOk")]],
                 [b"regsregs", b"regs"], b"A=1\nOk> AException!\nOk> A=3\nOk> ")]:
            with self.subTest(options=options), Connections(scripts) as server:
                result = run_client(options + ["-r", "3", server.port], b"regs\n")
                self.assertEqual(server.received, received)
                self.assertEqual((result.stdout, result.returncode), (transcript(shown), 1))

    def test_bad_values_are_usage_errors(self):
        for args, says in [(["-i", "1", "5000"], b"-i needs -r COUNT"),
                           (["-r", "x", "5000"], b"-r needs a whole number"),
                           (["-r", "2", "-i", "-1", "5000"], b"-i needs a number of seconds"),
                           (["--repeat"], b"--repeat needs a number of repetitions")]:
            with self.subTest(args):
                result = run_client(args, b"")
                self.assertEqual((result.returncode, result.stdout), (1, b""))
                self.assertTrue(result.stderr.startswith(b"cmdclient: " + says), result.stderr)


class Timing(InTemporaryDirectory, unittest.TestCase):

    def test_standard_output_is_as_without_it(self):
        script = [expect(b"regs"), chunk(b"A=1\nOk"), expect(b"bad"), chunk(b"Syntax error"),
                  expect(b"mem"), chunk(b"0000: 00"), close()]
        lines = b"regs\nbad > r.txt\nmem\n"
        plain, _ = session(self, list(script), lines, cwd=self.cwd)
        timed, _ = session(self, list(script), lines, cwd=self.cwd, options=["--timing"])
        self.assertTrue(plain.stdout.endswith(b"Exception!\n\n"))
        self.assertEqual((timed.stdout, timed.returncode), (plain.stdout, plain.returncode))
        self.assertRegex(timed.stderr, rb"\Acmdclient: 'regs': \d+\.\d\d\d m?s\n"
                                       rb"cmdclient: 'bad': \d+\.\d\d\d m?s\n"
                                       rb"cmdclient: 'mem': cut short after \d+\.\d\d\d m?s\n"
                                       rb"(cmdclient: connection to localhost port \d+ closed by "
                                       rb"the server\n)\Z")
        self.assertRegex(plain.stderr, rb"\A(cmdclient: connection to localhost port \d+ closed "
                                       rb"by the server\n)\Z")


class CommandFiles(InTemporaryDirectory, unittest.TestCase):

    def write(self, name, data):
        with open(os.path.join(self.cwd, name), "wb") as f:
            f.write(data)

    def test_files_and_commands_run_in_order(self):
        self.write("one.txt", b"x\r\ny\n\n")
        self.write("two.txt", b"z")
        replies = [item for command in [b"a", b"x", b"y", b"b", b"z"]
                   for item in (expect(command), chunk(command.upper() + b"\nOk"))]
        with mock.patch.dict(os.environ, HOME=self.cwd):
            result, server = session(self, replies, b"never\n", cwd=self.cwd, options=[
                "--echo", "-c", "a", "-f", "one.txt", "-c", "b", "--file", "~/two.txt"])
        self.assertEqual(server.received, b"axybz")
        self.assertEqual((result.stdout, result.returncode),
                         (transcript(b"a\nA\nOk> x\nX\nOk> y\nY\nOk> \nOk> b\nB\nOk> z\nZ\nOk> "),
                          0))

    def test_a_file_that_cannot_be_opened_stops_before_the_banner(self):
        os.mkdir(os.path.join(self.cwd, "folder"))
        for name, reason in [("missing.txt", b"No such file or directory"),
                             ("folder", b"Is a directory")]:
            with self.subTest(name), Connections([[]]) as server:
                result = run_client(["-c", "regs", "-f", name, server.port], b"regs\n",
                                    cwd=self.cwd)
                self.assertEqual((result.returncode, result.stdout, server.received),
                                 (1, b"", []))
                self.assertEqual(result.stderr, b"cmdclient: cannot open command file '%s': %s\n"
                                 % (name.encode(), reason))

    def test_exit_on_error_names_the_file_and_line(self):
        self.write("s.txt", b"regs\n\nbad\nregs\n")
        script = [expect(b"regs"), chunk(b"Ok"), expect(b"bad"), chunk(b"Syntax error")]
        for source, stdin, where in [("s.txt", b"", b"s.txt:3"), ("-", b"regs\n\nbad\n",
                                                                  b"line 3")]:
            with self.subTest(source):
                result, server = session(self, list(script), stdin, cwd=self.cwd,
                                         options=["-e", "-f", source])
                self.assertEqual((result.returncode, server.received), (3, b"regsbad"))
                self.assertEqual(result.stderr, b"cmdclient: " + where + b": 'bad': Syntax error\n")


if __name__ == "__main__":
    unittest.main()
