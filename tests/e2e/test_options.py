"""The options for scripts: a bounded wait, a stop at the first failed
command, the replies' text alone, and commands from the command line."""

import os
import shutil
import socket
import subprocess
import time
import unittest

from harness import (RUN_DEADLINE, WINDOWS, FakeServer, chunk, close, expect,
                     program_name, run_client, session, text, transcript)

REPLIES = [expect(b"regs"), chunk(b"A=1\nOk"), expect(b"bad"), chunk(b"Syntax error"),
           expect(b"mem"), chunk(b"00: 2A\nOk")]
LINES = b"regs\nbad\nmem\n"


class Timeouts(unittest.TestCase):

    def test_a_silent_server_ends_the_run_with_the_reason(self):
        with FakeServer([expect(b"regs")]) as server:
            start = time.monotonic()
            result = run_client(["--timeout", "0.5", server.port], b"regs\n")
            waited = time.monotonic() - start
        self.assertEqual((result.returncode, result.stdout), (1, transcript(b"Exception!\n")))
        self.assertRegex(result.stderr, rb"^cmdclient: no reply from localhost port \d+ "
                                        rb"for 0\.5 s\r?\n$")
        self.assertGreaterEqual(waited, 0.5)
        self.assertLess(waited, RUN_DEADLINE / 2)  # it gave up, not the test

    def test_a_timeout_changes_nothing_of_a_good_run(self):
        plain, _ = session(self, list(REPLIES), LINES)
        bounded, _ = session(self, list(REPLIES), LINES, options=["--timeout", "5"])
        self.assertEqual((bounded.returncode, bounded.stdout, bounded.stderr),
                         (plain.returncode, plain.stdout, plain.stderr))

    @unittest.skipIf(WINDOWS, "the port's SYNs are dropped with Linux's iptables")
    def test_a_connect_that_is_never_answered_gives_up(self):
        if os.geteuid() != 0 or not shutil.which("iptables"):
            self.skipTest("needs root and iptables (Debian package iptables) to drop SYNs")
        holder = socket.socket()
        holder.bind(("127.0.0.1", 0))
        port = holder.getsockname()[1]
        rule = ["INPUT", "-i", "lo", "-p", "tcp", "--dport", str(port), "--syn", "-j", "DROP"]
        if subprocess.run(["iptables", "-I"] + rule, capture_output=True).returncode != 0:
            holder.close()
            self.skipTest("iptables cannot add a rule here (no netfilter in this kernel?)")
        try:
            result = run_client(["--connect-timeout", "0.5", port], b"regs\n")
        finally:
            subprocess.run(["iptables", "-D"] + rule, check=True)
            holder.close()
        self.assertEqual(result.returncode, 1)
        self.assertTrue(result.stdout.endswith(
            b"Exception was caught:Could not bind to port.\n\n"), result.stdout)
        self.assertRegex(result.stderr, rb"^cmdclient: cannot connect to localhost port \d+: "
                                        rb"Connection timed out\n$")


class ExitOnError(unittest.TestCase):

    def test_the_first_syntax_error_stops_the_run_with_status_3(self):
        result, server = session(self, list(REPLIES[:4]), LINES, options=["-e"])
        self.assertEqual((result.returncode, server.received), (3, b"regsbad"))
        self.assertEqual(result.stdout, transcript(b"A=1\nOk> Syntax error\nOk> "))

    def test_without_it_every_command_is_sent(self):
        result, server = session(self, list(REPLIES), LINES)
        self.assertEqual((result.returncode, server.received), (0, b"regsbadmem"))


class QuietCommands(unittest.TestCase):

    def test_quiet_output_is_what_a_redirect_file_holds(self):
        reply = b"line 1\nline 2 Ok then\n\x1b[0mOk"
        with FakeServer([expect(b"dump"), chunk(reply)]) as server:
            quiet = run_client(["-q", "-c", "dump", server.port], b"")
        with FakeServer([expect(b"dump"), chunk(reply)]) as server:
            redirected = run_client([server.port], b"dump > f.txt\n")
        with open("f.txt", "rb") as f:
            self.assertEqual(quiet.stdout, f.read())
        self.assertEqual((quiet.returncode, quiet.stderr, redirected.returncode), (0, b"", 0))

    def test_commands_run_in_order_and_standard_input_is_not_read(self):
        script = [expect(b"regs"), chunk(b"A=1\nOk"), expect(b"bad"), chunk(b"Syntax error")]
        result, server = session(self, script, b"never\n", options=["-q", "-c", "regs", "-c", "bad"])
        self.assertEqual((result.returncode, server.received), (0, b"regsbad"))
        self.assertEqual(result.stdout, text(b"A=1\nSyntax error\n"))

    def test_quiet_failures_go_to_standard_error(self):
        with FakeServer([expect(b"regs"), chunk(b"part"), close()]) as server:
            result = run_client(["-q", server.port], b"regs\n")
        self.assertEqual((result.returncode, result.stdout), (1, b"part"))
        self.assertRegex(result.stderr, rb"^Exception!\r?\ncmdclient: connection to .* "
                                        rb"closed by the server\r?\n$")


class BadOptions(unittest.TestCase):

    def test_each_bad_value_names_its_option(self):
        for args, says in [(["--timeout"], b"--timeout needs a number of seconds"),
                           (["--timeout", "-1", "5000"], b"--timeout needs a positive number"),
                           (["--connect-timeout", "x", "5000"],
                            b"--connect-timeout needs a positive number"),
                           (["-c"], b"-c needs a value")]:
            with self.subTest(args):
                result = run_client(args, b"")
                self.assertEqual((result.returncode, result.stdout), (1, b""))
                self.assertTrue(result.stderr.startswith(b"cmdclient: " + says), result.stderr)
                self.assertIn(b"usage: " + program_name() + b" [OPTIONS] [hostname] port#",
                              result.stderr)


if __name__ == "__main__":
    unittest.main()
