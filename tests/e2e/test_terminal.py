"""At a terminal: line editing, history across runs, Tab completion, and
Ctrl-C that cancels the line or the reply instead of the session."""

import os
import signal
import stat
import tempfile
import threading
import unittest

from harness import (RUN_DEADLINE, FakeServer, InTemporaryDirectory, chunk, expect, notify, send,
                     wait_for)
from terminal import CTRL_C, CTRL_D, LEFT, TAB, UP, TerminalClient

# x86-64: ppoll, where the client waits, for keys and for the server alike.
READ = RECVFROM = 271
BIG = b"0123456789abcdef" * 4096  # 64 KiB of a reply without an 'O'


class AtTheTerminal(InTemporaryDirectory, unittest.TestCase):

    def start(self, script, env=None):
        server = FakeServer(script)
        self.addCleanup(server.stop)
        client = TerminalClient(server.port, self.cwd, env)
        self.addCleanup(client.close)
        client.wait_for_prompt()
        return server, client

    def test_editing_keys_and_history_reach_the_server_as_edited(self):
        server, client = self.start([expect(b"regs"), chunk(b"A=1\nOk"),
                                     expect(b"regs"), chunk(b"A=2\nOk"),
                                     expect(b"mem 1 8"), chunk(b"8 bytes\nOk"),
                                     expect(b"mem"), chunk(b"Ok")])
        client.type(b"regs\r")
        client.wait_for_prompt("A=1")
        client.type(UP + b"\r")                      # the previous line again
        client.wait_for_prompt("A=2")
        client.type(b"mem 0 8" + LEFT * 2 + b"\x7f1\r")  # Backspace over the 0
        client.wait_for_prompt("8 bytes")
        client.type(b"me" + TAB)                     # a word of an earlier line
        client.wait_for(lambda lines: client.cursor_line() == "Ok> mem", "completion")
        client.type(b"\x7f\r")
        client.wait_for_prompt("Ok> mem")
        client.type(b"quit\r")
        self.assertEqual(client.wait_exit(), 0)
        self.assertEqual(server.received, b"regsregsmem 1 8mem")
        # The screen reads like the transcript a pipe gets.
        self.assertEqual(client.lines()[3:9], ["Ok> regs", "A=1", "Ok> regs", "A=2",
                                               "Ok> mem 1 8", "8 bytes"])

    def test_long_lines_redraw_after_a_reply_without_a_newline(self):
        # The reply leaves the cursor mid-line; the edited line is longer than
        # the terminal is wide; Ctrl-L redraws it all at the top.
        typed = b"poke " + b"1 " * 48
        edited = b"pokeX " + b"1 " * 48
        server, client = self.start([expect(b"one"), chunk(b"no newline;Ok"),
                                     expect(edited.rstrip()), chunk(b"Ok")])
        client.type(b"one\r")
        client.wait_for(lambda lines: client.cursor_line() == "no newline;Ok>" and
                        client.screen.cursor.x == len("no newline;Ok> ") and
                        client.editing(), "the reply")
        client.type(typed.rstrip() + b"\x01" + b"\x1b[C" * 4 + b"X")  # Ctrl-A, Right x4
        shown = ("no newline;Ok> " + edited.rstrip().decode())
        rows = [shown[:80], shown[80:]]
        client.wait_for(lambda lines: lines[4:6] == rows, "the edited line in place")
        client.type(b"\x0c")  # Ctrl-L
        client.wait_for(lambda lines: lines[0:2] == rows and not any(lines[2:]),
                        "the line redrawn at the top")
        client.type(b"\r")
        client.wait_for_prompt()
        client.type(b"quit\r")
        self.assertEqual(client.wait_exit(), 0)

    def test_tab_after_the_arrow_completes_a_file_name(self):
        os.mkdir(os.path.join(self.cwd, "dumps"))
        with open(os.path.join(self.cwd, "dumps", "registers.txt"), "w"):
            pass
        server, client = self.start([expect(b"regs"), chunk(b"A=1\nOk"),
                                     expect(b"regs"), chunk(b"A=1\nOk")])
        client.type(b"regs > " + self.cwd.encode() + b"/du" + TAB + b"reg" + TAB + b"\r")
        client.wait_for(lambda lines: client.cursor_line() == "Ok>" and client.editing() and
                        any("registers.txt" in line for line in lines), "the reply")
        # A redirect that fails is reported before the prompt that follows it.
        client.type(b"regs > missing/x\r")
        client.wait_for_prompt("cmdclient: cannot open reply file 'missing/x': "
                               "No such file or directory")
        client.type(CTRL_D)
        self.assertEqual(client.wait_exit(), 0)
        self.assertEqual(self.file("dumps/registers.txt"), b"A=1\n")

    def test_ctrl_c_at_the_prompt_drops_the_line(self):
        server, client = self.start([expect(b"regs"), chunk(b"A=1\nOk")])
        client.type(b"half typed")
        client.wait_for(lambda lines: client.cursor_line() == "Ok> half typed", "the echo")
        client.wait_until_blocked_in(READ)
        client.type(CTRL_C)
        client.wait_for_prompt("Ok> half typed")
        client.type(b"regs\r")
        client.wait_for_prompt("A=1")
        client.type(b"quit\r")
        self.assertEqual(client.wait_exit(), 0)
        self.assertEqual(server.received, b"regs")

    def test_ctrl_c_during_a_reply_discards_its_rest_and_keeps_the_session(self):
        drained, go_on = threading.Event(), threading.Event()
        self.addCleanup(go_on.set)  # never leave the server waiting for its cue
        # 64 KiB arrive; Ctrl-C; then 10 MB more, to be read but not shown.
        script = [expect(b"dump"), chunk(BIG), notify(drained), wait_for(go_on),
                  send(BIG * 160 + b"Ok"), expect(b"regs"), chunk(b"A=1\nOk"),
                  expect(b"flood"), send(BIG * 160 + b"THE END\nOk"),
                  expect(b"dump"), chunk(b"first;"), notify(drained)]
        server, client = self.start(script)
        client.type(b"dump > part.txt\r")
        self.assertTrue(drained.wait(RUN_DEADLINE))
        client.wait_until_blocked_in(RECVFROM)
        client.type(CTRL_C)
        client.wait_for(lambda lines: any("discarding" in line for line in lines), "notice")
        # The file holds exactly what arrived before the interrupt.
        self.assertEqual(self.file("part.txt"), BIG)
        go_on.set()
        client.wait_for_prompt()
        client.type(b"regs\r")
        client.wait_for_prompt("A=1")
        self.assertEqual(self.file("part.txt"), BIG)
        # While the reply streams in without a pause (the terminal holds it
        # back as fast as we read), Ctrl-C stops it all the same.
        client.type(b"flood\r")
        client.wait_for(lambda lines: "0123456789abcdef" in lines[-1], "the flood")
        client.type(CTRL_C)
        client.wait_for_prompt()
        self.assertFalse(any("THE END" in line for line in client.lines()))
        drained.clear()
        client.type(b"dump\r")
        self.assertTrue(drained.wait(RUN_DEADLINE))
        client.wait_for(lambda lines: client.cursor_line() == "first;", "the first chunk")
        client.wait_until_blocked_in(RECVFROM)
        client.type(CTRL_C)
        client.wait_for(lambda lines: client.output.count(b"discarding") == 3,
                        "a third notice")
        client.wait_until_blocked_in(RECVFROM)
        client.type(CTRL_C)
        self.assertEqual(client.wait_exit(), -signal.SIGINT)  # a shell shows 130

    def test_history_is_private_and_found_again_by_the_next_run(self):
        for env, saved in [({}, True), ({"CMDCLIENT_HISTORY": ""}, False)]:
            with self.subTest(env=env), tempfile.TemporaryDirectory() as home:
                self.cwd = home
                history = os.path.join(home, ".local", "state", "cmdclient", "history")
                server, client = self.start([expect(b"secret"), chunk(b"Ok")], env)
                client.type(b"secret\r")
                client.wait_for_prompt("Ok> secret")
                client.type(b"quit\r")
                self.assertEqual(client.wait_exit(), 0, client.output)
                self.assertEqual(os.path.exists(history), saved)
                if not saved:
                    continue
                self.assertEqual(stat.S_IMODE(os.stat(history).st_mode), 0o600)
                server, client = self.start([], env)
                client.type(UP + UP)
                client.wait_for(lambda lines: client.cursor_line() == "Ok> secret",
                                "the last run's command")
                client.wait_until_blocked_in(READ)
                client.type(CTRL_C)
                client.wait_for_prompt()
                client.type(b"quit\r")
                self.assertEqual(client.wait_exit(), 0, client.output)


if __name__ == "__main__":
    unittest.main()
