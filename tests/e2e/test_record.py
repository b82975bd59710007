"""A record of the session: the log file (-L) with its timestamps (-t), lines
echoed for piped runs (--echo), and -e naming the command that stopped it."""

import os
import re
import signal
import stat
import subprocess
import threading
import unittest

from terminal import CTRL_C, TerminalClient
from harness import (BANNER, CLIENT, CLIENT_PREFIX, RUN_DEADLINE, WINDOWS, FakeServer,
                     InTemporaryDirectory, chunk, close, expect, refused_port, reset, send,
                     session, text, transcript, wait_for)

STAMP = re.compile(rb"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] ", re.M)
SCRIPT = [expect(b"regs"), chunk(b"A=1\nOk"), expect(b"bad"), chunk(b"Syntax error"),
          expect(b"mem"), chunk(b"00: 2A\nOk"), expect(b"mem"), chunk(b"00: 2A\nOk"),
          expect(b"tail"), chunk(b"no newline;Ok")]
LINES = [b"regs", b"", b"bad", b"mem > m.txt", b"mem > missing/m.txt", b"tail", b"quit"]
# What a terminal shows of that session without -q.
# The banner as the client means it, before a Windows text-mode write.
PLAIN_BANNER = BANNER.replace(b"\r\n", b"\n")
LOG = (PLAIN_BANNER + b"Ok> regs\nA=1\nOk> \nOk> bad\nSyntax error\nOk> mem > m.txt\n"
       b"Ok> mem > missing/m.txt\n"
       b"cmdclient: cannot open reply file 'missing/m.txt': No such file or directory\n"
       b"Ok> tail\nno newline;Ok> quit\n\n")


def unstamped(log):
    """The log without its stamps; fails unless every line has one."""
    lines = log.splitlines(keepends=True)
    assert all(STAMP.match(line) for line in lines), log
    return STAMP.sub(b"", log)


# Where a terminal ends a partly shown line, and so the log does: before a
# failure line and before one of the client's own lines.
ENDED_BEFORE = (b"cmdclient: ", b"Exception", b"status == -1")


def log_matches_shown(log, shown):
    """None when `log` is `shown` (what stdout and stderr, on one pipe, got)
    but for newlines ending a partial line before ENDED_BEFORE; else where
    the two part."""
    newline = text(b"\n")  # both are written in the platform's text mode
    at = index = 0
    while index < len(log):
        if at < len(shown) and shown[at] == log[index]:
            at += 1
            index += 1
        elif log.startswith(newline, index) and log[index + len(newline):].startswith(
                ENDED_BEFORE):
            index += len(newline)
        else:
            return "the log %r parts from the output %r" % (log[index:index + 60],
                                                            shown[at:at + 60])
    return None if at == len(shown) else "the log lacks %r" % shown[at:]


class LogFile(InTemporaryDirectory, unittest.TestCase):

    def log(self):
        return self.file("session.log")

    def test_the_log_holds_the_session_as_a_terminal_shows_it(self):
        piped = b"".join(line + b"\n" for line in LINES)
        commands = [word for line in LINES for word in ("-c", line.decode())]
        for options, stdin in [([], piped), (["-q"], piped), (["-t"], piped),
                               (["-q", "-t"], piped), (commands, b"")]:
            with self.subTest(options=options):
                result, _ = session(self, list(SCRIPT), stdin, cwd=self.cwd,
                                    options=["-L", "session.log"] + options)
                self.assertEqual(result.returncode, 0)
                log = self.log()
                os.remove(os.path.join(self.cwd, "session.log"))
                self.assertEqual(unstamped(log) if "-t" in options else log, text(LOG))
                self.assertEqual(self.file("m.txt"), text(b"00: 2A\n"))

    def test_the_log_is_appended_private_and_ends_a_killed_runs_line(self):
        path = os.path.join(self.cwd, "session.log")
        with open(path, "wb") as f:
            f.write(b"Ok> half a li")
        os.chmod(path, 0o644)
        session(self, [], b"", options=["-L", path])
        self.assertEqual(self.log(), text(b"Ok> half a li\n" + PLAIN_BANNER + b"Ok> \n"))
        os.remove(path)
        session(self, [], b"", options=["-L", path])
        if not WINDOWS:
            self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)

    @unittest.skipIf(WINDOWS, "no write-only files")
    def test_a_log_that_can_only_be_written_gets_a_newline_unless_empty(self):
        # Root reads any file: the client runs without that power.
        prefix = ["setpriv", "--bounding-set", "-dac_override,-dac_read_search"] \
            if os.geteuid() == 0 else []
        path = os.path.join(self.cwd, "session.log")
        for before, newline in [(b"Ok> half a li", b"\n"), (b"", b"")]:
            with self.subTest(before=before), FakeServer([]) as server:
                with open(path, "wb") as f:
                    f.write(before)
                os.chmod(path, 0o200)
                result = subprocess.run(prefix + CLIENT_PREFIX + [CLIENT, "-L", path,
                                                                  str(server.port)],
                                        input=b"", capture_output=True, timeout=RUN_DEADLINE)
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                os.chmod(path, 0o600)
                self.assertEqual(self.log(), before + newline + PLAIN_BANNER + b"Ok> \n")

    def test_without_the_options_and_with_a_log_standard_output_is_the_same(self):
        stdin = b"".join(line + b"\n" for line in LINES)
        plain, _ = session(self, list(SCRIPT), stdin, cwd=self.cwd)
        logged, _ = session(self, list(SCRIPT), stdin, cwd=self.cwd, options=["-L", "x.log"])
        self.assertEqual((logged.stdout, logged.stderr), (plain.stdout, plain.stderr))

    def test_echo_shows_piped_lines_after_their_prompts(self):
        stdin = b"".join(line + b"\n" for line in LINES)
        result, _ = session(self, list(SCRIPT), stdin, cwd=self.cwd,
                            options=["--echo", "-L", "session.log"])
        # Standard output is the log less the client's own lines (on stderr).
        self.assertEqual(result.stdout, text(LOG.replace(
            b"cmdclient: cannot open reply file 'missing/m.txt': No such file or directory\n",
            b"")))
        quiet, _ = session(self, list(SCRIPT), stdin, cwd=self.cwd, options=["--echo", "-q"])
        self.assertNotIn(b"regs", quiet.stdout)

    @unittest.skipIf(WINDOWS, "no /dev/full")
    def test_a_log_that_cannot_be_written_costs_one_line(self):
        stdin = b"regs\nbad\n"
        plain, _ = session(self, list(SCRIPT[:4]), stdin)
        for options in (["-L", "/dev/full"], ["-e", "-L", "/dev/full"]):
            with self.subTest(options=options):
                result, _ = session(self, list(SCRIPT[:4]), stdin, options=options)
                self.assertEqual(result.stdout, plain.stdout)
                self.assertEqual(result.stderr.splitlines()[0], b"cmdclient: cannot write log "
                                 b"file '/dev/full': No space left on device")
                self.assertEqual(result.returncode, 3 if "-e" in options else 0)

    def test_every_failure_is_logged_once_as_shown(self):
        holder, refused = refused_port()
        self.addCleanup(holder.close)
        stalled = threading.Event()
        self.addCleanup(stalled.set)
        # Script (None: the refused port), input, options.
        cases = {
            "refused connect": (None, b"regs\n", []),
            "cut reply": ([expect(b"regs"), chunk(b"partial"), close()], b"regs\nnext\n", []),
            "reset mid-reply": ([expect(b"regs"), chunk(b"partial"), reset()], b"regs\n", []),
            "timeout": ([expect(b"regs"), chunk(b"partial"), wait_for(stalled)], b"regs\n",
                        ["--timeout", "0.3"]),
            "lost reply file": ([expect(b"regs"), chunk(b"A=1\nOk"), expect(b"regs"),
                                 chunk(b"A=2\nOk")], b"regs > none/r.txt\nregs\n", []),
        }
        log = os.path.join(self.cwd, "session.log")
        for name, (script, stdin, options) in cases.items():
            for stamps in ([], ["-t"]):
                with self.subTest(name, stamps=stamps):
                    server = FakeServer(script) if script is not None else None
                    port = server.port if server else refused
                    result = subprocess.run(
                        CLIENT_PREFIX + [CLIENT, "--echo", "-L", log] + stamps + options +
                        [str(port)], input=stdin, stdout=subprocess.PIPE,
                        stderr=subprocess.STDOUT, cwd=self.cwd, timeout=RUN_DEADLINE)
                    stalled.set()
                    if server:
                        server.stop()
                    with open(log, "rb") as f:
                        logged = f.read()
                    os.remove(log)
                    self.assertIsNone(log_matches_shown(
                        unstamped(logged) if stamps else logged, result.stdout))
                    stalled.clear()

    @unittest.skipIf(WINDOWS, "the line editor needs a POSIX terminal")
    def test_at_a_terminal_the_log_has_the_lines_sent_not_the_editing(self):
        server = FakeServer([expect(b"regs"), chunk(b"A=1\nOk"), expect(b"mem"),
                             chunk(b"00: 2A\nOk")])
        self.addCleanup(server.stop)
        client = TerminalClient(server.port, self.cwd, command=CLIENT_PREFIX + [
            CLIENT, "-t", "-L", "session.log", str(server.port)])
        self.addCleanup(client.close)
        client.wait_for_prompt()
        client.type(b"regs\r")
        client.wait_for_prompt("A=1")
        client.type(b"half typed")
        client.wait_for(lambda lines: client.cursor_line() == "Ok> half typed", "the echo")
        client.type(CTRL_C)
        client.wait_for_prompt("Ok> half typed")
        client.type(b"mex\x7fm > m.txt\r")
        client.wait_for_prompt("Ok> mem > m.txt")
        client.type(b"quit\r")
        self.assertEqual(client.wait_exit(), 0)
        self.assertEqual(unstamped(self.log()),
                         BANNER + b"Ok> regs\nA=1\nOk> mem > m.txt\nOk> quit\n\n")
        self.assertEqual(self.file("m.txt"), b"00: 2A\n")

    @unittest.skipIf(WINDOWS, "the line editor needs a POSIX terminal")
    def test_echo_shows_nothing_more_at_a_terminal(self):
        # The terminal showed the line as it was typed: no second copy of it.
        server = FakeServer([expect(b"regs"), chunk(b"A=1\nOk")])
        self.addCleanup(server.stop)
        client = TerminalClient(server.port, self.cwd, command=CLIENT_PREFIX + [
            CLIENT, "--echo", str(server.port)])
        self.addCleanup(client.close)
        client.wait_for_prompt()
        client.type(b"regs\r")
        client.wait_for_prompt("A=1")
        lines = client.lines()
        self.assertEqual(lines[lines.index("Ok> regs") + 1], "A=1", "\n".join(lines))
        client.type(b"quit\r")
        self.assertEqual(client.wait_exit(), 0)

    @unittest.skipIf(WINDOWS, "a home folder is a POSIX shell's")
    def test_a_leading_tilde_in_the_log_file_is_the_home_folder(self):
        for option in (["-L", "~/s.log"], ["--log-file=~/s.log"]):
            with self.subTest(option=option), FakeServer([]) as server:
                result = subprocess.run(CLIENT_PREFIX + [CLIENT, str(server.port)] + option,
                                        capture_output=True, timeout=RUN_DEADLINE,
                                        env=dict(os.environ, HOME=self.cwd))
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertTrue(self.file("s.log").startswith(PLAIN_BANNER))
                os.remove(os.path.join(self.cwd, "s.log"))

    def test_a_log_that_cannot_be_opened_ends_the_run_before_it_connects(self):
        folder = os.path.join(self.cwd, "none")
        with FakeServer([]) as server:
            result = subprocess.run(CLIENT_PREFIX + [CLIENT, "-L", folder + "/s.log",
                                                     str(server.port)],
                                    input=b"regs\n", capture_output=True, timeout=RUN_DEADLINE)
        self.assertEqual((result.returncode, result.stdout), (1, b""))
        self.assertEqual(result.stderr, text(b"cmdclient: cannot open log file '" +
                                             folder.encode() + b"/s.log': No such file or "
                                             b"directory\n"))
        self.assertEqual(server.received, b"")

    @unittest.skipIf(WINDOWS or CLIENT_PREFIX, "SIGTERM, and its death by signal")
    def test_sigterm_during_a_long_reply_leaves_the_log_as_the_console(self):
        go_on = threading.Event()
        block = b"0123456789abcdef" * 4096
        script = [expect(b"dump"), send(block * 100), wait_for(go_on)]
        log = os.path.join(self.cwd, "session.log")
        with FakeServer(script) as server:
            client = subprocess.Popen(CLIENT_PREFIX + [CLIENT, "--echo", "-L", log,
                                                       str(server.port)],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      stderr=subprocess.STDOUT)
            shown = bytearray()
            reader = threading.Thread(target=lambda: self._drain(client.stdout, shown))
            reader.start()
            try:
                client.stdin.write(b"dump\n")
                client.stdin.flush()
                while len(shown) < 200000 and client.poll() is None:
                    reader.join(0.01)
                client.send_signal(signal.SIGTERM)
                client.wait(timeout=RUN_DEADLINE)
            finally:
                go_on.set()
                if client.poll() is None:
                    client.kill()
                    client.wait()
                reader.join(RUN_DEADLINE)
                client.stdin.close()
        self.assertEqual(client.returncode, -signal.SIGTERM)
        self.assertGreaterEqual(len(shown), 200000)
        self.assertIsNone(log_matches_shown(self.log(), bytes(shown)))

    @staticmethod
    def _drain(stream, into):
        for piece in iter(lambda: stream.read1(65536), b""):
            into.extend(piece)
        stream.close()


class ExitOnError(InTemporaryDirectory, unittest.TestCase):

    def test_the_failing_command_is_named_and_a_lost_reply_stops_the_run(self):
        file_error = b"cannot open reply file 'missing/x': No such file or directory"
        cases = [
            # (options, standard input, server script, stderr, what the server got)
            ([], b"regs\n\nbad\nregs\n",
             [expect(b"regs"), chunk(b"A=1\nOk"), expect(b"bad"), chunk(b"Syntax error")],
             b"cmdclient: line 3: 'bad': Syntax error\n", b"regsbad"),
            (["-c", "regs", "-c", "bad > f.txt", "-c", "regs"], b"",
             [expect(b"regs"), chunk(b"A=1\nOk"), expect(b"bad"), chunk(b"Syntax error")],
             b"cmdclient: command 2: 'bad': Syntax error\n", b"regsbad"),
            # The reply is still read to its end; nothing more is sent.
            ([], b"\nregs > missing/x\nregs\n",
             [expect(b"regs"), chunk(b"A=1\n"), chunk(b"Ok")],
             b"cmdclient: line 2: 'regs': " + file_error + b"\n", b"regs"),
        ]
        if not WINDOWS:
            cases.append(([], b"regs > /dev/full\nregs\n",
                          [expect(b"regs"), chunk(b"A=1\nOk")],
                          b"cmdclient: line 1: 'regs': cannot write reply file '/dev/full': "
                          b"No space left on device\n", b"regs"))
        for options, stdin, script, stderr, received in cases:
            with self.subTest(stdin=stdin, options=options):
                result, server = session(self, script, stdin, cwd=self.cwd,
                                         options=["-e"] + options)
                self.assertEqual((result.returncode, result.stderr), (3, text(stderr)))
                self.assertEqual(server.received, received)
        # Without -e a lost reply costs its line alone, as ever.
        result, server = session(self, [expect(b"regs"), chunk(b"A=1\nOk"), expect(b"regs"),
                                        chunk(b"A=2\nOk")], b"regs > missing/x\nregs\n",
                                 cwd=self.cwd)
        self.assertEqual((result.returncode, result.stderr),
                         (0, text(b"cmdclient: " + file_error + b"\n")))
        self.assertEqual(result.stdout, transcript(b"Ok> A=2\nOk> "))


if __name__ == "__main__":
    unittest.main()
