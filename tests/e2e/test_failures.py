"""What the client does when the server goes away, when a redirect file cannot
be written, and when a person is watching the console."""

import os
import pty
import re
import select
import tempfile
import threading
import time
import unittest

from harness import (BANNER, RESET_LINE, RUN_DEADLINE, WINDOWS, FakeServer, check_loss_reported,
                     chunk, close, expect, live_client, reset, session, text, transcript, wait_for)

class LostConnection(unittest.TestCase):
    """A receive that fails ends the run with status 1; no later line is sent."""

    def test_server_closing_or_resetting_ends_the_run(self):
        # On Windows the receive after an orderly close can meet the reset that
        # the server's side sends when the command reaches its closed socket.
        closed_early = [b"Exception!\n"] + ([RESET_LINE + b"Exception!\n"] if WINDOWS else [])
        # Script, input, console texts allowed after the prompt, redirect file contents.
        cases = {
            "closed mid-reply": ([expect(b"regs"), chunk(b"partial"), close()], b"regs\nnext\n",
                                 b"partialException!\n", None),
            "closed mid-reply to a file": ([expect(b"regs"), chunk(b"partial"), close()],
                                           b"regs > r.txt\nnext\n", b"Exception!\n", b"partial"),
            "closed before the command": ([close()], b"regs\nnext\n", closed_early, None),
            "reset mid-reply": ([expect(b"regs"), chunk(b"partial"), reset()], b"regs\nnext\n",
                                b"partial" + RESET_LINE + b"Exception!\n", None),
        }
        for name, (script, stdin, console, in_file) in cases.items():
            with self.subTest(name), tempfile.TemporaryDirectory() as cwd:
                result, server = session(self, script, stdin, cwd=cwd)
                consoles = console if isinstance(console, list) else [console]
                self.assertIn(result.stdout, [transcript(shown) for shown in consoles])
                self.assertEqual(result.returncode, 1)
                check_loss_reported(self, result)
                self.assertNotIn(b"next", server.received)
                if in_file is not None:
                    with open(os.path.join(cwd, "r.txt"), "rb") as f:
                        self.assertEqual(f.read(), in_file)


class FailedRedirect(unittest.TestCase):
    """A redirect file that fails is reported on standard error; the console
    shows what it always does, and the next redirect works."""

    def test_each_failure_is_reported_once_and_later_redirects_work(self):
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


def read_until(fd, needle, collected=b"", view=bytes):
    """Reads `fd` until `needle` shows up in `view` of what was read, or the
    deadline passes; returns all read."""
    end = time.monotonic() + RUN_DEADLINE
    while needle not in view(collected) and time.monotonic() < end:
        ready, _, _ = select.select([fd], [], [], 0.1)
        if ready:
            try:
                piece = os.read(fd, 65536)
            except OSError:
                break
            if not piece:
                break
            collected += piece
    return collected


# Under wine a terminal is a Windows console that wine draws on the pty with
# cursor-control sequences, a trailing space turning into a cursor move.
CURSOR_CONTROL = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]")
PROMPT_ON_SCREEN = b"Ok>" if WINDOWS else b"Ok> "


def on_screen(data):
    """The text a terminal shows, without the drawing sequences."""
    return CURSOR_CONTROL.sub(b"", data) if WINDOWS else data


class WatchingTheConsole(unittest.TestCase):

    def test_prompt_is_visible_while_the_client_waits_for_input(self):
        with FakeServer([expect(b"regs"), chunk(b"A=1\nOk")]) as server, \
                live_client(server.port) as client:
            shown = read_until(client.stdout.fileno(), b"Ok> ")
            self.assertEqual(shown, BANNER + b"Ok> ")
            client.stdin.write(b"regs\n")
            client.stdin.flush()
            shown = read_until(client.stdout.fileno(), text(b"A=1\nOk> "), shown)
            self.assertEqual(shown, BANNER + text(b"Ok> A=1\nOk> "))
            client.stdin.close()
            self.assertEqual(client.wait(RUN_DEADLINE), 0)

    def test_each_chunk_shows_at_once_on_a_terminal(self):
        go_on = threading.Event()
        master, slave = pty.openpty()
        self.addCleanup(os.close, master)
        script = [expect(b"dump"), chunk(b"first part;"), wait_for(go_on), chunk(b"Ok")]
        with FakeServer(script) as server:
            try:
                with live_client(server.port, stdout=slave) as client:
                    os.close(slave)
                    client.stdin.write(b"dump\n")
                    client.stdin.flush()
                    # The reply has not ended, yet its first chunk must be on screen.
                    shown = read_until(master, b"first part;", view=on_screen)
                    self.assertIn(b"first part;", on_screen(shown))
                    go_on.set()
                    after = b"first part;" + PROMPT_ON_SCREEN
                    shown = read_until(master, after, shown, view=on_screen)
                    self.assertIn(after, on_screen(shown))
                    client.stdin.close()
                    self.assertEqual(client.wait(RUN_DEADLINE), 0)
            finally:
                go_on.set()  # never leave the server waiting for its cue


if __name__ == "__main__":
    unittest.main()
