"""Running the real cmdclient on a pseudo-terminal, as a person would, and
reading the screen a terminal would show (pyte)."""

import fcntl
import os
import select
import signal
import struct
import subprocess
import termios
import time

import pyte

from harness import CLIENT, CLIENT_PREFIX, RUN_DEADLINE, FakeServer, InTemporaryDirectory

COLUMNS, ROWS = 80, 24

UP, LEFT, TAB, CTRL_C, CTRL_D, CTRL_Z = b"\x1b[A", b"\x1b[D", b"\t", b"\x03", b"\x04", b"\x1a"
SHELL_PROMPT = "$"


class TerminalClient:
    """cmdclient with a pseudo-terminal as its controlling terminal and all
    three standard descriptors; `home` holds its history. With `command`,
    that program runs on the terminal instead (a shell, a script)."""

    def __init__(self, port, home, env=None, command=None):
        self.master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, COLUMNS, 0, 0))
        environment = dict(os.environ, TERM="xterm", HOME=home, LANG="C.UTF-8",
                           PS1=SHELL_PROMPT + " ")
        environment.pop("XDG_STATE_HOME", None)
        environment.pop("CMDCLIENT_HISTORY", None)
        environment.update(env or {})

        def controlling_terminal():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        self.process = subprocess.Popen(command or CLIENT_PREFIX + [CLIENT, str(port)],
                                        stdin=slave, cwd=home,
                                        stdout=slave, stderr=slave, env=environment,
                                        preexec_fn=controlling_terminal)
        os.close(slave)
        self.screen = pyte.Screen(COLUMNS, ROWS)
        self.stream = pyte.ByteStream(self.screen)
        self.output = b""

    def resize(self, columns):
        """Gives the terminal a new width, as a window manager would."""
        fcntl.ioctl(self.master, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, columns, 0, 0))
        self.screen.resize(ROWS, columns)

    def type(self, keys):
        os.write(self.master, keys)

    def _read_some(self, timeout):
        ready, _, _ = select.select([self.master], [], [], timeout)
        if not ready:
            return False
        try:
            piece = os.read(self.master, 65536)
        except OSError:  # the client has gone and closed the terminal
            return False
        if not piece:
            return False
        self.output += piece
        self.stream.feed(piece)
        return True

    def lines(self):
        return [line.rstrip() for line in self.screen.display]

    def wait_for(self, condition, what):
        """Reads the screen until `condition(lines)` holds; fails after the deadline."""
        end = time.monotonic() + RUN_DEADLINE
        while not condition(self.lines()):
            if time.monotonic() > end:
                raise AssertionError("screen never showed %s:\n%s" % (what,
                                     "\n".join(self.lines())))
            self._read_some(0.05)

    def wait_for_line(self, text):
        self.wait_for(lambda lines: text in lines, repr(text))

    def editing(self):
        """True once the line editor has the terminal (no longer line by line)."""
        return not termios.tcgetattr(self.master)[3] & termios.ICANON

    def wait_for_prompt(self, after=None):
        """Waits until the editor shows an empty prompt (after the line `after`)
        and has taken the terminal: keys typed before that would be echoed by
        the terminal itself, not the editor."""
        self.wait_for(lambda lines: self.cursor_line() == "Ok>" and self.editing() and
                      (after is None or after in lines), "a prompt after %r" % after)

    def interrupt(self):
        """Types Ctrl-C while a reply comes in, so that the terminal's own echo
        of the key (^C) is on screen before the client answers it. The terminal
        sends the client its signal first and echoes the key a moment later: a
        client that answers at once can show its notice before the echo, which
        then lands at the start of the line after the notice, in front of the
        next prompt. Which comes first is the scheduler's choice, so the client
        is held stopped from before the key until the echo is shown."""
        pid = self.process.pid
        os.kill(pid, signal.SIGSTOP)
        try:
            end = time.monotonic() + RUN_DEADLINE
            # Reports the stop only (WEXITED is not asked for): nothing is reaped.
            while os.waitid(os.P_PID, pid, os.WSTOPPED | os.WNOHANG) is None:
                if time.monotonic() > end:
                    raise AssertionError("the client never stopped for Ctrl-C")
                self._read_some(0.005)
            while self._read_some(0):
                pass
            flags = termios.tcgetattr(self.master)[3]
            echo = b"^C" if flags & termios.ECHOCTL else CTRL_C
            before = self.output.count(echo)
            self.type(CTRL_C)
            if flags & termios.ECHO:
                self.wait_for(lambda lines: self.output.count(echo) > before,
                              "the terminal's echo of Ctrl-C")
        finally:
            os.kill(pid, signal.SIGCONT)

    def cursor_line(self):
        return self.lines()[self.screen.cursor.y]

    def wait_exit(self):
        end = time.monotonic() + RUN_DEADLINE
        while self.process.poll() is None and time.monotonic() < end:
            self._read_some(0.05)
        while self._read_some(0):
            pass
        return self.process.wait(max(0.1, end - time.monotonic()))

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        os.close(self.master)


class TerminalTest(InTemporaryDirectory):
    """A test case mixin: start() runs a fake server and the client on a
    terminal in self.cwd (its HOME), and waits for the first prompt."""

    def start(self, script, env=None):
        server = FakeServer(script)
        self.addCleanup(server.stop)
        client = TerminalClient(server.port, self.cwd, env)
        self.addCleanup(client.close)
        client.wait_for_prompt()
        return server, client
