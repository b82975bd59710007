"""Running the real cmdclient on a pseudo-terminal, as a person would, and
reading the screen a terminal would show (pyte)."""

import fcntl
import os
import select
import struct
import subprocess
import termios
import time

import pyte

from harness import CLIENT, CLIENT_PREFIX, RUN_DEADLINE

COLUMNS, ROWS = 80, 24

UP, LEFT, TAB, CTRL_C, CTRL_D, CTRL_Z = b"\x1b[A", b"\x1b[D", b"\t", b"\x03", b"\x04", b"\x1a"
SHELL_PROMPT = "$"


def syscall_number(name):
    """This system's number for the system call `name`, as /proc shows it."""
    listing = subprocess.run([os.environ["CMDCLIENT_SYSCALL_NUMBERS"]], check=True,
                             stdout=subprocess.PIPE, timeout=RUN_DEADLINE).stdout
    return dict(line.split() for line in listing.decode().splitlines())[name]


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

    def wait_until_blocked_in(self, name):
        """Waits until the client blocks in the system call `name` (Linux,
        /proc), so that a key typed next lands in that wait."""
        syscall = syscall_number(name)
        end = time.monotonic() + RUN_DEADLINE
        while time.monotonic() < end:
            try:
                with open("/proc/%d/syscall" % self.process.pid) as status:
                    if status.read().split()[0] == syscall:
                        return
            except (OSError, IndexError):
                return
            time.sleep(0.005)
        raise AssertionError("the client never waited in %s" % name)

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
