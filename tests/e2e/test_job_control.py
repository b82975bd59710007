"""The client as a job of an interactive shell and in a window that changes:
run by a wrapper script, Ctrl-Z stops the whole job (the script's shell as
well as the client) and `fg` brings the line back, as often as it is done;
in tmux, which rewraps its rows, a resize leaves the line drawn once."""

import os
import shutil
import signal
import subprocess
import threading
import time
import unicodedata
import unittest

from harness import (CLIENT, RUN_DEADLINE, FakeServer, InTemporaryDirectory, chunk, expect,
                     wait_for)
from terminal import CTRL_Z, SHELL_PROMPT, TerminalClient

SHELL = ["bash", "--norc", "--noprofile", "-i"]
ROUNDS = 20  # of Ctrl-Z and fg on a typed line

# A wrapper shaped like scripts/try: a server started in the background, then
# the client in the foreground as a child of the script's shell (not exec'd).
WRAPPER = """#!/bin/bash
coproc server { exec setsid "$CMDCLIENT_DEMO_SERVER" 0; }
echo "$server_PID" > server.pid
trap 'kill "$server_PID"' EXIT
read -r -t 10 greeting <&"${server[0]}"
"$CMDCLIENT" "$1"
"""


@unittest.skipUnless(os.environ.get("CMDCLIENT_DEMO_SERVER"), "no demo server built")
class UnderAWrapperScript(InTemporaryDirectory, unittest.TestCase):

    def stop_demo_server(self):
        try:
            with open(os.path.join(self.cwd, "server.pid")) as pid:
                os.kill(int(pid.read()), signal.SIGTERM)
        except (OSError, ValueError):
            pass  # gone with its script

    def test_ctrl_z_then_fg_brings_the_line_back_every_time(self):
        go_on = threading.Event()
        # The server waits for "dump" through all the rounds below, each with
        # its own deadline: its watchdog must outlast them all, or a loaded
        # machine sees the server give up while the test is still going.
        server = FakeServer([expect(b"dump"), chunk(b"first;"), wait_for(go_on),
                             chunk(b"rest\nOk"), expect(b"abc"), chunk(b"done\nOk")],
                            watchdog=RUN_DEADLINE * (ROUNDS + 4))
        # Cleanups run last first: should the test fail half-way, the server
        # hangs up and gets its cue before it is waited for.
        self.addCleanup(server.stop)
        self.addCleanup(go_on.set)
        self.addCleanup(server.hang_up)
        with open(os.path.join(self.cwd, "wrapper"), "w") as script:
            script.write(WRAPPER)
        os.chmod(script.name, 0o755)
        shell = TerminalClient(server.port, self.cwd, command=SHELL)
        self.addCleanup(shell.close)
        self.addCleanup(self.stop_demo_server)
        shell.wait_for(lambda lines: shell.cursor_line() == SHELL_PROMPT, "the shell")
        shell.type(b"./wrapper %d\r" % server.port)
        shell.wait_for_prompt()

        def stop_and_continue(stops):
            shell.type(CTRL_Z)
            shell.wait_for(lambda lines: shell.output.count(b"Stopped") == stops and
                           shell.cursor_line() == SHELL_PROMPT, "the job stopped (%d)" % stops)
            shell.type(b"fg\r")

        def line_back():
            shell.wait_for(lambda lines: shell.cursor_line() == "Ok> abc" and
                           shell.screen.cursor.x == len("Ok> abc") and shell.editing(),
                           "Ok> abc with the cursor after it")

        for stops in range(1, ROUNDS + 1):
            # The echo first: keys still unread when Ctrl-Z comes are dropped
            # by the terminal itself.
            shell.type(b"abc")
            shell.wait_for(lambda lines: shell.cursor_line() == "Ok> abc", "the echo")
            stop_and_continue(stops)
            line_back()
            shell.type(b"\x15")  # Ctrl-U: the next round starts on an empty line
            shell.wait_for_prompt()
        # Once more while a reply is held back; a line is typed ahead after fg.
        shell.type(b"dump\r")
        shell.wait_for(lambda lines: shell.cursor_line() == "first;", "the first chunk")
        stop_and_continue(ROUNDS + 1)
        shell.wait_for(lambda lines: "./wrapper %d" % server.port in lines, "the job named")
        shell.type(b"abc")
        shell.wait_for(lambda lines: shell.cursor_line() == "abc", "the terminal's echo")
        go_on.set()
        line_back()
        shell.type(b"\r")
        shell.wait_for_prompt("done")
        shell.type(b"quit\r")
        shell.wait_for(lambda lines: shell.cursor_line() == SHELL_PROMPT, "the shell again")
        shell.type(b"exit\r")  # with the script's status, which is the client's
        self.assertEqual(shell.wait_exit(), 0)
        self.assertEqual(server.received, b"dumpabc")


@unittest.skipUnless(shutil.which("tmux"), "no tmux")
class InTmux(InTemporaryDirectory, unittest.TestCase):
    """tmux on a server of its own; what the client writes is copied to a
    file, so the test knows when a redraw has come."""

    def tmux(self, *args):
        return subprocess.run(["tmux", "-u", "-L", self.socket, "-f", "/dev/null"] + list(args),
                              check=True, stdout=subprocess.PIPE, timeout=RUN_DEADLINE,
                              universal_newlines=True).stdout

    def start(self, columns):
        server = FakeServer([])
        self.addCleanup(server.stop)
        self.socket = "cmdclient-test-%d" % os.getpid()
        self.written = os.path.join(self.cwd, "written")
        command = "env HOME=%s CMDCLIENT_HISTORY= LANG=C.UTF-8 %s %d" % (self.cwd, CLIENT,
                                                                       server.port)
        self.tmux("new-session", "-d", "-x", str(columns), "-y", "30", command)
        self.addCleanup(self.tmux, "kill-server")
        self.tmux("pipe-pane", "-O", "cat >> " + self.written)

    def resize(self, columns):
        """Resizes the window and waits until the client has redrawn."""
        def redraws():
            with open(self.written, "rb") as written:
                return written.read().count(b"\x1b[J")
        before = redraws()
        self.tmux("resize-window", "-x", str(columns))
        end = time.monotonic() + RUN_DEADLINE
        while redraws() == before:
            self.assertLess(time.monotonic(), end, "no redraw at %d columns" % columns)
            time.sleep(0.02)

    def wait_for_screen(self, rows, cursor):
        """Waits until the screen ends in `rows` with the cursor at
        `cursor` (column, row counted from the last of them); fails after
        the deadline."""
        end = time.monotonic() + RUN_DEADLINE
        while True:
            screen = self.tmux("capture-pane", "-p").rstrip("\n").split("\n")
            shown = [row.rstrip() for row in screen]
            while shown and not shown[-1]:
                shown.pop()
            x, y = self.tmux("display", "-p", "#{cursor_x} #{cursor_y}").split()
            if shown[-len(rows):] == rows and (int(x), int(y) - len(shown) + 1) == cursor:
                return
            if time.monotonic() > end:
                raise AssertionError("the screen never ended in %r:\n%s" %
                                     (rows, "\n".join(shown)))
            time.sleep(0.02)

    def test_resizes_leave_the_line_drawn_once_below_the_output(self):
        line = "0123456789" * 13
        shown = "Ok> " + line  # 134 columns
        self.start(100)
        self.wait_for_screen(["Type 'help' or 'quit' to exit", "Ok>"], (4, 0))
        self.tmux("send-keys", "-l", line)
        self.wait_for_screen(["Type 'help' or 'quit' to exit", shown[:100], shown[100:]],
                             (34, 0))
        # Growing and shrinking; 67 and 134 columns hold the line exactly,
        # the cursor after it (a blank cell after it once it filled 67).
        for columns in [50, 120, 67, 100, 134, 100, 67, 134, 100]:
            with self.subTest(columns=columns):
                self.resize(columns)
                rows = [shown[start:start + columns] for start in range(0, len(shown), columns)]
                # A line that fills its last row has the cursor on the next.
                self.wait_for_screen(["Type 'help' or 'quit' to exit"] + rows,
                                     (len(rows[-1]) % columns, len(rows[-1]) // columns))

    def test_resizes_count_wide_characters_as_two_columns(self):
        line = "regs " + "\u65e5" * 30 + "END"  # 72 columns with the prompt
        self.start(100)
        self.wait_for_screen(["Type 'help' or 'quit' to exit", "Ok>"], (4, 0))
        self.tmux("send-keys", "-l", line)
        self.wait_for_screen(["Type 'help' or 'quit' to exit", "Ok> " + line], (72, 0))
        # At 50 and 41 columns a wide character that does not fit in a row
        # starts the next one.
        for columns in [50, 120, 41, 100, 50, 120]:
            with self.subTest(columns=columns):
                self.resize(columns)
                rows, width = [""], 0
                for character in "Ok> " + line:
                    cells = 2 if unicodedata.east_asian_width(character) == "W" else 1
                    if width + cells > columns:
                        rows, width = rows + [""], 0
                    rows[-1] += character
                    width += cells
                self.wait_for_screen(["Type 'help' or 'quit' to exit"] + rows,
                                     (width, 0))


if __name__ == "__main__":
    unittest.main()
