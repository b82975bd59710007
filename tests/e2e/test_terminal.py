"""At a terminal: line editing, history across runs and side by side, Tab
completion, Ctrl-C that cancels the line or the reply instead of the session,
Ctrl-Z and window resizes; and replies shown as they arrive."""

import os
import pty
import re
import select
import shutil
import signal
import stat
import subprocess
import tempfile
import threading
import time
import unittest

from harness import (BANNER, CLIENT, CLIENT_PREFIX, RUN_DEADLINE, WINDOWS, FakeServer, InTemporaryDirectory,
                     chunk, close, expect, live_client, notify, reset, send, text,
                     wait_for)
from terminal import TerminalTest, CTRL_C, CTRL_D, CTRL_Z, LEFT, SHELL_PROMPT, TAB, UP, TerminalClient

SHELL = ["bash", "--norc", "--noprofile", "-i"]
TRY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "try")
BIG = b"0123456789abcdef" * 4096  # 64 KiB of a reply without an 'O'


class AtTheTerminal(TerminalTest, unittest.TestCase):

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
        client.type(b"\r")                           # sent as completed
        client.wait_for_prompt("Ok> mem")
        client.type(b"quit\r")
        self.assertEqual(client.wait_exit(), 0)
        server.stop()  # it has read all the client sent
        self.assertEqual(server.received, b"regsregsmem 1 8mem")
        # The screen reads like the transcript a pipe gets.
        self.assertEqual(client.lines()[3:9], ["Ok> regs", "A=1", "Ok> regs", "A=2",
                                               "Ok> mem 1 8", "8 bytes"])

    def test_ctrl_c_leaves_the_notice_and_the_next_prompt_on_lines_of_their_own(self):
        notice = "cmdclient: interrupted: discarding the rest of the reply (Ctrl-C again to quit)"
        # What arrived before the key, and the rows the screen ends with above
        # the prompt: a partly shown line keeps only what arrived, and after
        # a line that ended, the terminal's echo of the key keeps its row.
        cases = [(b"0101 part", ["0101 part^C", notice]),
                 (b"0101 whole\n", ["0101 whole", "^C", notice])]
        for arrived, rows in cases:
            with self.subTest(arrived=arrived):
                go_on = threading.Event()
                self.addCleanup(go_on.set)
                server, client = self.start([expect(b"dump"), chunk(arrived), wait_for(go_on),
                                             chunk(b"of it\nOk")])
                client.type(b"dump\r")
                client.wait_for(lambda lines: arrived.decode().strip() in lines, "what arrived")
                client.interrupt()
                client.wait_for(lambda lines: notice in lines, "the notice on a row of its own")
                go_on.set()
                client.wait_for_prompt()
                lines = [line for line in client.lines() if line]
                self.assertEqual(lines[-1 - len(rows):-1], rows)

    def test_a_lost_connection_ends_the_partly_shown_line_first(self):
        cases = [(close(), ["abcd", "Exception!"]),
                 (reset(), ["abcd", "status == -1  errno == 104 in Socket::recv", "Exception!"])]
        for ending, rows in cases:
            with self.subTest(rows=rows):
                server, client = self.start([expect(b"regs"), chunk(b"abcd"), ending])
                client.type(b"regs\r")
                self.assertEqual(client.wait_exit(), 1)
                lines = client.lines()
                self.assertIn("abcd", lines)
                at = lines.index("abcd")
                self.assertEqual(lines[at:at + len(rows)], rows)

    def test_ctrl_c_with_commands_ends_the_run_by_the_signal(self):
        go_on = threading.Event()
        self.addCleanup(go_on.set)
        server = FakeServer([expect(b"dump"), chunk(b"first;"), wait_for(go_on), chunk(b"Ok"),
                             expect(b"regs"), chunk(b"A=1\nOk")])
        self.addCleanup(server.stop)
        client = TerminalClient(server.port, self.cwd, command=CLIENT_PREFIX + [
            CLIENT, "-c", "dump", "-c", "regs", str(server.port)])
        self.addCleanup(client.close)
        client.wait_for(lambda lines: client.cursor_line() == "Ok> first;", "the first chunk")
        client.interrupt()
        # There is no prompt to return to: what arrived stays, nothing more is sent.
        self.assertEqual(client.wait_exit(), -signal.SIGINT)
        self.assertIn("Ok> first;^C", client.lines())
        go_on.set()
        server.stop()
        self.assertEqual(server.received, b"dump")

    def test_with_no_arguments_a_person_is_pointed_to_the_help(self):
        client = TerminalClient(0, self.cwd, command=CLIENT_PREFIX + [CLIENT])
        self.addCleanup(client.close)
        self.assertEqual(client.wait_exit(), 1)
        self.assertIn("cmdclient: see cmdclient --help", client.lines())

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

    def test_ctrl_d_deletes_or_ends_leaving_the_prompt_alone(self):
        server, client = self.start([])
        client.type(b"abc" + LEFT + LEFT + CTRL_D)  # the character under the cursor
        client.wait_for(lambda lines: client.cursor_line() == "Ok> ac", "the deletion")
        client.type(b"\x05\x15" + CTRL_D)  # Ctrl-E, Ctrl-U empty the line
        self.assertEqual(client.wait_exit(), 0)
        self.assertEqual(client.lines()[3:5], ["Ok>", ""])
        self.assertEqual((client.screen.cursor.y, client.screen.cursor.x), (4, 0))

    def test_ctrl_c_at_the_prompt_drops_the_line(self):
        server, client = self.start([expect(b"regs"), chunk(b"A=1\nOk")])
        client.type(b"half typed")
        # Echoed by the editor, which has the terminal: Ctrl-C is the editor's to see.
        client.wait_for(lambda lines: client.cursor_line() == "Ok> half typed" and
                        client.editing(), "the echo")
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
        # Sent, and the first part read; the rest waits for the test.
        self.assertTrue(drained.wait(RUN_DEADLINE))
        client.interrupt()
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
        client.interrupt()
        client.wait_for_prompt()
        self.assertFalse(any("THE END" in line for line in client.lines()))
        drained.clear()
        client.type(b"dump\r")
        self.assertTrue(drained.wait(RUN_DEADLINE))
        client.wait_for(lambda lines: client.cursor_line() == "first;", "the first chunk")
        client.type(CTRL_C)
        # Once the notice offers it, Ctrl-C ends the run.
        client.wait_for(lambda lines: client.output.count(b"(Ctrl-C again to quit)") == 3,
                        "a third notice")
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
                client.wait_for(lambda lines: client.cursor_line() == "Ok> secret" and
                                client.editing(), "the last run's command")
                client.type(CTRL_C)
                client.wait_for_prompt()
                client.type(b"quit\r")
                self.assertEqual(client.wait_exit(), 0, client.output)


    def test_runs_side_by_side_keep_each_others_history(self):
        history = os.path.join(self.cwd, ".local", "state", "cmdclient", "history")
        first = self.start([expect(b"alpha"), chunk(b"Ok")])[1]
        second = self.start([expect(b"beta"), chunk(b"Ok")])[1]
        for client, line in [(first, b"alpha"), (second, b"beta"), (first, b"quit"),
                             (second, b"quit")]:
            client.type(line + b"\r")
            if line != b"quit":
                client.wait_for_prompt("Ok> " + line.decode())
        self.assertEqual((first.wait_exit(), second.wait_exit()), (0, 0))
        with open(history, "rb") as saved:
            self.assertEqual(saved.read().split(b"\n")[1:], [b"alpha", b"beta", b"quit", b""])
        self.assertEqual(stat.S_IMODE(os.stat(history).st_mode), 0o600)

    def test_resize_at_the_prompt_edits_at_the_new_width(self):
        line = b"regs " + b"0123456789" * 4 + b"x"  # 50 columns with the prompt
        server, client = self.start([expect(b"Y" + line), chunk(b"Ok")])
        client.type(line)
        client.wait_for(lambda lines: client.cursor_line() == "Ok> " + line.decode(), "the echo")
        seen = len(client.output)
        client.resize(40)
        # The editor redraws the line (clearing below it) once it knows the size.
        client.wait_for(lambda lines: b"\x1b[J" in client.output[seen:], "a redraw")
        client.type(b"\x0c\x01Y")  # Ctrl-L, then Ctrl-A and a Y in front
        shown = "Ok> Y" + line.decode()
        client.wait_for(lambda lines: lines[0:2] == [shown[:40], shown[40:]],
                        "the line at 40 columns")
        client.type(b"\r")
        client.wait_for_prompt()
        client.type(b"quit\r")
        self.assertEqual(client.wait_exit(), 0)


class UnderAShell(InTemporaryDirectory, unittest.TestCase):
    """The client as a job of an interactive shell, stopped and continued."""

    def start(self, script):
        server = FakeServer(script)
        self.addCleanup(server.stop)
        shell = TerminalClient(server.port, self.cwd, command=SHELL)
        self.addCleanup(shell.close)
        shell.wait_for(lambda lines: shell.cursor_line() == SHELL_PROMPT, "the shell")
        shell.type(b"%s %d\r" % (CLIENT.encode(), server.port))
        shell.wait_for_prompt()
        return server, shell

    def stop_and_continue(self, shell, back):
        shell.type(CTRL_Z)
        shell.wait_for(lambda lines: shell.cursor_line() == SHELL_PROMPT and
                       any("Stopped" in line for line in lines), "the job stopped")
        shell.type(b"fg\r")
        shell.wait_for(back, "the job back")

    def finish(self, shell):
        shell.type(b"quit\r")
        shell.wait_for(lambda lines: shell.cursor_line() == SHELL_PROMPT, "the shell again")
        shell.type(b"exit\r")  # with the client's status
        self.assertEqual(shell.wait_exit(), 0)

    def test_ctrl_z_at_the_prompt_then_fg_edits_on(self):
        server, shell = self.start([expect(b"abcef"), chunk(b"done\nOk")])
        shell.type(b"abc")
        shell.wait_for(lambda lines: shell.cursor_line() == "Ok> abc", "the echo")
        self.stop_and_continue(shell, lambda lines: shell.cursor_line() == "Ok> abc" and
                               shell.editing())
        shell.type(b"def" + LEFT * 2 + b"\x7f\r")  # Backspace over the d
        shell.wait_for_prompt("done")
        self.finish(shell)
        self.assertEqual(server.received, b"abcef")

    def test_ctrl_z_during_a_reply_then_fg_finishes_it(self):
        go_on = threading.Event()
        self.addCleanup(go_on.set)  # never leave the server waiting for its cue
        server, shell = self.start([expect(b"dump"), chunk(b"first;"), wait_for(go_on),
                                    chunk(b"rest\nOk"), expect(b"yx"), chunk(b"Ok")])
        shell.type(b"dump\r")
        shell.wait_for(lambda lines: shell.cursor_line() == "first;", "the first chunk")
        # The shell names the job as it continues it; the client's own line is "$ ...".
        job = "%s %d" % (CLIENT, server.port)
        self.stop_and_continue(shell, lambda lines: job in lines)
        go_on.set()
        shell.wait_for_prompt("rest")
        shell.type(b"x" + LEFT + b"y\r")
        shell.wait_for_prompt("Ok> yx")
        self.finish(shell)


NO_EDITOR = b"cmdclient: no line editing (lines are read as typed): "


class WithoutTheLineEditor(InTemporaryDirectory, unittest.TestCase):
    """A copy of the program installed by hand, without the line editor's
    module beside it: a session at a terminal reads lines as typed and says
    so once; a run that edits no lines never looks for the module."""

    def setUp(self):
        super().setUp()
        folder = os.path.join(self.cwd, "bin")
        os.mkdir(folder)
        self.copy = os.path.join(folder, "cmdclient")
        shutil.copy2(CLIENT, self.copy)

    def test_a_terminal_session_reads_lines_as_typed_and_says_so_once(self):
        server = FakeServer([expect(b"regs"), chunk(b"A=1\nOk"), expect(b"mem"), chunk(b"Ok")])
        self.addCleanup(server.stop)
        client = TerminalClient(server.port, self.cwd,
                                command=CLIENT_PREFIX + [self.copy, str(server.port)])
        self.addCleanup(client.close)
        client.wait_for(lambda lines: client.cursor_line() == "Ok>", "the prompt")
        client.type(b"regs\r")
        client.wait_for(lambda lines: "A=1" in lines and client.cursor_line() == "Ok>", "A=1")
        client.type(b"mem\rquit\r")
        self.assertEqual(client.wait_exit(), 0)
        self.assertEqual(server.received, b"regsmem")
        self.assertEqual(client.output.count(NO_EDITOR), 1, client.output)
        self.assertIn(b"line-editor.so: cannot open shared object file", client.output)
        self.assertTrue(client.output.startswith(NO_EDITOR), client.output)
        self.assertIn(BANNER.replace(b"\n", b"\r\n") + b"Ok> regs\r\nA=1\r\nOk> mem",
                      client.output)

    def test_runs_that_edit_no_lines_never_look_for_it(self):
        for case, options, typed in (("-c at a terminal", ["-c", "regs"], b""),
                                     ("quiet at a terminal", ["-q"], b"regs\rquit\r")):
            with self.subTest(case):
                server = FakeServer([expect(b"regs"), chunk(b"A=1\nOk")])
                self.addCleanup(server.stop)
                client = TerminalClient(server.port, self.cwd, command=CLIENT_PREFIX + [
                    self.copy] + options + [str(server.port)])
                self.addCleanup(client.close)
                client.type(typed)
                self.assertEqual(client.wait_exit(), 0)
                self.assertIn(b"A=1", client.output)
                self.assertNotIn(NO_EDITOR, client.output)
        with FakeServer([expect(b"regs"), chunk(b"A=1\nOk")]) as server:
            piped = subprocess.run(CLIENT_PREFIX + [self.copy, str(server.port)], input=b"regs\n",
                                   capture_output=True, timeout=RUN_DEADLINE)
        self.assertEqual((piped.returncode, piped.stderr), (0, b""))


def hang_up(process):
    """Hangs up on a script and its client, as closing the terminal would."""
    if process.poll() is None:
        os.killpg(process.pid, signal.SIGHUP)
        process.wait(RUN_DEADLINE)


@unittest.skipUnless(os.environ.get("CMDCLIENT_DEMO_SERVER"), "no demo server built")
class TryScript(InTemporaryDirectory, unittest.TestCase):

    def test_ctrl_c_at_the_prompt_leaves_the_demo_server_running(self):
        client = TerminalClient(0, self.cwd, command=[TRY])
        self.addCleanup(client.close)
        self.addCleanup(hang_up, client.process)  # first: the script then stops its server
        client.wait_for_prompt()
        client.type(b"half")
        client.wait_for(lambda lines: client.cursor_line() == "Ok> half", "the echo")
        client.type(CTRL_C)
        client.wait_for_prompt("Ok> half")
        client.type(b"regs\r")
        client.wait_for_prompt("Ok> regs")
        self.assertTrue(client.lines()[5].startswith("A="), client.lines())
        client.type(b"terminate\r")
        self.assertEqual(client.wait_exit(), 0)


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


@unittest.skipIf(WINDOWS, "a pseudo-terminal")
class ReaderGone(unittest.TestCase):

    def test_no_command_is_sent_once_standard_output_has_lost_its_reader(self):
        master, slave = pty.openpty()
        self.addCleanup(os.close, master)
        read_end, write_end = os.pipe()
        with FakeServer([expect(b"regs"), chunk(b"A=1\nOk")]) as server:
            client = subprocess.Popen(CLIENT_PREFIX + [CLIENT, str(server.port)], stdin=slave,
                                      stdout=write_end, stderr=subprocess.DEVNULL)
            os.close(slave)
            os.close(write_end)
            try:
                self.assertTrue(read_until(read_end, b"Ok> ").endswith(b"Ok> "))
                os.close(read_end)  # as `tee` ends on Ctrl-C, at the prompt
                os.write(master, b"regs\n")
                status = client.wait(RUN_DEADLINE)
            finally:
                if client.poll() is None:
                    client.kill()
                    client.wait()
        self.assertEqual(status, -signal.SIGPIPE)
        self.assertEqual(server.received, b"")


class ShownAtOnce(unittest.TestCase):
    """What a person watching the console must see while the client waits;
    standard input is a pipe, so there is no line editor."""

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
