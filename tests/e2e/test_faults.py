"""Faults and hostile input from either side: the server closing or resetting
at awkward moments, replies in single bytes or of every byte value, very long
replies, redirect files and output that cannot be written, and input that ends
while a reply is still on its way."""

import hashlib
import os
import select
import subprocess
import tempfile
import threading
import unittest

from harness import (BANNER, CLIENT, CLIENT_PREFIX, RESET_LINE, RUN_DEADLINE, WINDOWS, FakeServer,
                     check_loss_reported, refused_port,
                     chunk, close, expect, live_client, reset, session, text, transcript, wait_for)


class ServerFaults(unittest.TestCase):

    def test_connection_lost_ends_the_run_and_sends_no_later_line(self):
        # A reset may be met by the send of a command (silently) or by the
        # receive after it (with the diagnostic line): both end the run. On
        # Windows the receive after an orderly close can meet the reset that
        # the server's side sends when the next command reaches a closed
        # socket, and under wine a reset right after the server accepts can
        # fail the connect itself.
        lost = [RESET_LINE + b"Exception!\n", b"Exception!\n"]
        closed = lost if WINDOWS else lost[1:]
        refused = [BANNER + text(b"Exception was caught:Could not bind to port.\n\n")]
        # Script, input, the whole console outputs allowed, exit status, what
        # the redirect file r.txt holds (None: no file).
        cases = {
            "closed mid-reply": (
                [expect(b"regs"), chunk(b"partial"), close()], b"regs\nnext\n",
                [transcript(b"partialException!\n")], 1, None),
            "closed mid-reply to a file": (
                [expect(b"regs"), chunk(b"partial"), close()], b"regs > r.txt\nnext\n",
                [transcript(b"Exception!\n")], 1, b"partial"),
            "closed before the command": (
                [close()], b"regs\nnext\n", [transcript(ending) for ending in closed], 1, None),
            "closed right after Ok, more input": (
                [expect(b"one"), chunk(b"Ok"), close()], b"one\nnext\n",
                [transcript(b"Ok> " + ending) for ending in closed], 1, None),
            "closed right after Ok, input ends": (
                [expect(b"one"), chunk(b"Ok"), close()], b"one\n", [transcript(b"Ok> ")], 0, None),
            "reset mid-reply": (
                [expect(b"regs"), chunk(b"partial"), reset()], b"regs\nnext\n",
                # Under wine a non-blocking receive can see the reset as a close.
                [transcript(b"partial" + ending) for ending in (lost if WINDOWS else lost[:1])],
                1, None),
            "reset before any command": (
                [reset()], b"one\nnext\n",
                [transcript(ending) for ending in lost] + (refused if WINDOWS else []), 1, None),
            "reset right after Ok": (
                [expect(b"one"), chunk(b"Ok"), reset()], b"one\nnext\n",
                [transcript(b"Ok> " + ending) for ending in lost], 1, None),
        }
        for name, (script, stdin, outputs, status, in_file) in cases.items():
            with self.subTest(name), tempfile.TemporaryDirectory() as cwd:
                result, server = session(self, script, stdin, cwd=cwd)
                self.assertIn(result.stdout, outputs)
                self.assertEqual(result.returncode, status)
                self.assertNotIn(b"next", server.received)
                if status == 0:
                    self.assertEqual(result.stderr, b"")
                else:
                    check_loss_reported(self, result)
                if in_file is not None:
                    with open(os.path.join(cwd, "r.txt"), "rb") as f:
                        self.assertEqual(f.read(), in_file)

    def test_reply_one_byte_per_receive(self):
        body = b"A=1F\nOK\nO\nk\x00yokSyntax error"
        script = [expect(b"regs")] + [chunk(body[i:i + 1]) for i in range(len(body))]
        script += [chunk(b"O"), chunk(b"k")]
        result, _ = session(self, script, b"regs\n")
        # Lone bytes end a reply only as an "O" followed by a "k"; the zero
        # byte's receive is empty.
        self.assertEqual(result.stdout, transcript(body.replace(b"\x00", b"") + b"Ok> "))

    def test_every_byte_value_is_relayed_untouched(self):
        every = bytes(range(1, 256))
        zeros = b"\x00" * 500
        controls = b"\r\r\n\x1b[2J\x1b]0;title\x07\x08\x7f\xc3\x28\xed\xa0\x80\xff\xfe"
        script = [expect(b"dump"), chunk(every[:200]), chunk(zeros), chunk(every[200:]),
                  chunk(controls), chunk(b"Ok")]
        with tempfile.TemporaryDirectory() as cwd:
            result, _ = session(self, script, b"dump\n", cwd=cwd)
            self.assertEqual(result.stdout, transcript(every + controls + b"Ok> "))
            result, _ = session(self, script, b"dump > raw\n", cwd=cwd)
            self.assertEqual(result.stdout, transcript(b"Ok> "))
            with open(os.path.join(cwd, "raw"), "rb") as f:
                self.assertEqual(f.read(), text(every + controls))

    def test_64_megabyte_reply_is_byte_exact(self):
        line = bytes(range(0x20, 0x4F)) + bytes(range(0x50, 0x7F)) + b"\n"  # no 'O'
        body = line * ((64 << 20) // len(line))
        digest = hashlib.sha256(text(body)).hexdigest()
        script = [expect(b"mem"), chunk(body), chunk(b"Ok")]
        result, _ = session(self, script, b"mem\n")
        self.assertEqual(hashlib.sha256(result.stdout).hexdigest(),
                         hashlib.sha256(transcript(body + b"Ok> ")).hexdigest())
        with tempfile.TemporaryDirectory() as cwd:
            result, _ = session(self, script, b"mem > mem.txt\n", cwd=cwd)
            self.assertEqual(result.stdout, transcript(b"Ok> "))
            with open(os.path.join(cwd, "mem.txt"), "rb") as f:
                self.assertEqual(hashlib.sha256(f.read()).hexdigest(), digest)


class UnwritableOutput(unittest.TestCase):

    def test_failed_redirect_is_reported_once_and_later_redirects_work(self):
        big = b"z" * (3 << 20)
        # Under wine the Windows build reaches the host's /dev/full by that name.
        cases = {
            "missing directory": ("missing/r.txt", b"lost\nOk",
                                  "cannot open reply file 'missing/r.txt': No such file or directory"),
            "a directory": (".", b"lost\nOk", "cannot open reply file '.': "
                            + ("Permission denied" if WINDOWS else "Is a directory")),
            "empty name": ("", b"lost\nOk", "cannot open reply file '': No such file or directory"),
            "full disk": ("/dev/full", b"lost\nOk",
                          "cannot write reply file '/dev/full': No space left on device"),
            "full disk, long reply": ("/dev/full", big + b"Ok",
                                      "cannot write reply file '/dev/full': No space left on device"),
        }
        for name, (target, reply, message) in cases.items():
            with self.subTest(name), tempfile.TemporaryDirectory() as cwd:
                script = [expect(b"regs"), chunk(reply[:-2]), chunk(b"Ok"),
                          expect(b"two"), chunk(b"kept\nOk")]
                stdin = b"regs >" + target.encode() + b"\ntwo > ok.txt\n"
                result, server = session(self, script, stdin, cwd=cwd)
                self.assertEqual(result.stdout, transcript(b"Ok> Ok> "))
                self.assertEqual(result.stderr, text(b"cmdclient: %s\n" % message.encode()))
                self.assertEqual(result.returncode, 0)
                with open(os.path.join(cwd, "ok.txt"), "rb") as f:
                    self.assertEqual(f.read(), text(b"kept\n"))

    @unittest.skipIf(WINDOWS, "no FIFOs")
    def test_a_fifo_whose_reader_leaves_costs_that_file_alone(self):
        part = b"p" * 1000
        gone = b"cmdclient: cannot write %s 'ff': Broken pipe\n"
        # Options, the first line, standard output, standard error, exit status.
        cases = {
            "log": (["-L", "ff"], b"big", transcript(part + b"rest\nOk> two\nOk> "),
                    gone % b"log file", 0),
            "reply file": ([], b"big > ff", transcript(b"Ok> two\nOk> "), gone % b"reply file", 0),
            "reply file, -e": (["-e"], b"big > ff", transcript(b"Ok> "),
                               b"cmdclient: line 1: 'big': " + gone[11:] % b"reply file", 3),
        }
        for name, (options, first, stdout, stderr, status) in cases.items():
            with self.subTest(name), tempfile.TemporaryDirectory() as cwd:
                fifo = os.path.join(cwd, "ff")
                os.mkfifo(fifo)
                reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
                go_on = threading.Event()

                def leave():
                    # The reader takes the first bytes, then goes.
                    select.select([reader], [], [], RUN_DEADLINE)
                    os.close(reader)
                    go_on.set()

                leaving = threading.Thread(target=leave)
                leaving.start()
                script = [expect(b"big"), chunk(part), wait_for(go_on), chunk(b"rest\nOk"),
                          expect(b"second"), chunk(b"two\nOk")]
                with FakeServer(script[:4] if status else script) as server:
                    result = subprocess.run(CLIENT_PREFIX + [CLIENT] + options + [str(server.port)],
                                            input=first + b"\nsecond\n", capture_output=True,
                                            cwd=cwd, timeout=RUN_DEADLINE)
                leaving.join()
                self.assertEqual((result.returncode, result.stderr), (status, stderr))
                self.assertEqual(result.stdout, stdout)
                self.assertEqual(server.received, b"big" if status else b"bigsecond")

    @unittest.skipIf(WINDOWS, "no SIGPIPE")
    def test_standard_error_whose_reader_has_gone_costs_only_its_lines(self):
        holder, port = refused_port()
        reader, writer = os.pipe()
        os.close(reader)
        try:
            result = subprocess.run(CLIENT_PREFIX + [CLIENT, str(port)],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=writer, timeout=RUN_DEADLINE)
        finally:
            os.close(writer)
            holder.close()
        self.assertEqual((result.returncode, result.stdout),
                         (1, BANNER + text(b"Exception was caught:Could not bind to port.\n\n")))

    def test_output_that_cannot_be_written_fails_the_run(self):
        with FakeServer([expect(b"regs"), chunk(b"A=1\nOk")]) as server, \
                open("/dev/full", "wb") as full:
            client = subprocess.run(CLIENT_PREFIX + [CLIENT, str(server.port)], input=b"regs\n",
                                    stdout=full, stderr=subprocess.PIPE, timeout=RUN_DEADLINE)
        # Said once, with the reason; the command is never sent, as its reply
        # could not be shown.
        self.assertEqual(client.returncode, 1)
        self.assertRegex(client.stderr, rb"^cmdclient: cannot write standard output: .+\r?\n$")
        self.assertEqual(server.received, b"")


class InputEnds(unittest.TestCase):

    def test_input_ending_during_a_reply_lets_the_reply_finish(self):
        go_on = threading.Event()
        # Input ends, mid-line, before the first reply is complete; the
        # unfinished last line is still a command.
        script = [expect(b"slow"), chunk(b"half "), wait_for(go_on), chunk(b"rest\nOk"),
                  expect(b"tail"), chunk(b"Ok")]
        with FakeServer(script) as server:
            try:
                with live_client(server.port) as client:
                    client.stdin.write(b"slow\ntail")
                    client.stdin.close()
                    server.connected.wait(RUN_DEADLINE)
                    go_on.set()
                    output = client.stdout.read()
                    self.assertEqual(client.wait(RUN_DEADLINE), 0)
            finally:
                go_on.set()  # never leave the server waiting for its cue
        self.assertEqual(output, transcript(b"half rest\nOk> Ok> "))
        self.assertEqual(server.received, b"slowtail")

    def test_carriage_returns_and_ctrl_z_in_input(self):
        # Input line, and what the server receives: only the CR of a CR LF is
        # dropped. Windows reads piped input in text mode, where CR LF is
        # already a newline (so a CR before it goes too) and Ctrl-Z ends input.
        cases = [(b"ab\r\r\n", b"ab" if WINDOWS else b"ab\r"),
                 (b"ab\x1acd\n", b"ab" if WINDOWS else b"ab\x1acd")]
        for line, sent in cases:
            with self.subTest(line=line):
                result, server = session(self, [expect(sent), chunk(b"Ok")], line + b"quit\n")
                self.assertEqual((result.stdout, result.returncode), (transcript(b"Ok> "), 0))
                self.assertEqual(server.received, sent)


if __name__ == "__main__":
    unittest.main()
