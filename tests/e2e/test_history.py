"""At a terminal, history files that are not what they should be: devices, a
FIFO without a writer, a folder, a huge file and one that another process
holds locked. Each costs at most a line on standard error: never the
session, its memory or its stop signals."""

import fcntl
import os
import re
import shutil
import signal
import unittest

from harness import CLIENT, CLIENT_PREFIX, FakeServer, chunk, expect
from terminal import UP, TerminalClient, TerminalTest

# Sanitizers and memory checkers take much more memory of their own.
CHECKED = bool(CLIENT_PREFIX) or "ASAN_OPTIONS" in os.environ
MEMORY_LIMIT = (1 << 30) if CHECKED else 16 << 20
STRACE = shutil.which("strace")
FIRST_LINE = b"_HiStOrY_V2_\n"


def resident(pid):
    """The memory a process has in use (VmRSS, bytes); 0 once it has gone."""
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


class HistoryFiles(TerminalTest, unittest.TestCase):

    def start_watched(self, script, history, command=None):
        """The client on a terminal with CMDCLIENT_HISTORY=history, waited
        for at its first prompt; `watch` waits on, failing at once should
        its memory pass the limit."""
        server = FakeServer(script)
        self.addCleanup(server.stop)
        env = {"CMDCLIENT_HISTORY": history}
        client = TerminalClient(server.port, self.cwd, env,
                                command=command and command + [CLIENT, str(server.port)])

        def watch(condition, what):
            def within_memory(lines):
                used = resident(client.process.pid)
                self.assertLess(used, MEMORY_LIMIT, "memory while %s" % what)
                return condition(lines)
            client.wait_for(within_memory, what)

        client.watch = watch
        self.addCleanup(client.close)
        watch(lambda lines: client.cursor_line() == "Ok>" and client.editing(), "starting")
        return server, client

    def run_one_command(self, history):
        """Starts, sends regs, quits: the lines the client wrote on standard error."""
        server, client = self.start_watched([expect(b"regs"), chunk(b"A=1\nOk")], history)
        client.type(b"regs\r")
        client.watch(lambda lines: client.cursor_line() == "Ok>" and "A=1" in lines, "the reply")
        client.type(b"quit\r")
        self.assertEqual(client.wait_exit(), 0, client.output)
        server.stop()
        self.assertEqual(server.received, b"regs")
        return [line.decode() for line in re.findall(rb"cmdclient: [^\r\n]*", client.output)]

    def test_a_history_that_is_no_regular_file_costs_one_line(self):
        fifo, folder = os.path.join(self.cwd, "fifo"), os.path.join(self.cwd, "folder")
        os.mkfifo(fifo)  # no writer: opening it to read would wait for one
        os.mkdir(folder)
        for history, reason in [("/dev/null", None), ("/dev/full", "not a regular file"),
                                ("/dev/zero", "not a regular file"), (fifo, "not a regular file"),
                                (folder, "Is a directory")]:
            with self.subTest(history=history):
                said = [] if reason is None else [
                    "cmdclient: cannot read history file '%s': %s" % (history, reason)]
                self.assertEqual(self.run_one_command(history), said)

    def test_of_a_huge_history_only_its_end_is_read(self):
        history = os.path.join(self.cwd, "history")
        with open(history, "wb") as saved:  # a line of 256 MiB, then a short one
            saved.write(FIRST_LINE)
            saved.seek(256 << 20)
            saved.write(b"\nmem 0 8\n")
        server, client = self.start_watched([], history)
        client.type(UP)
        client.watch(lambda lines: client.cursor_line() == "Ok> mem 0 8", "the last line")
        client.type(b"\x15quit\r")  # Ctrl-U empties the line first
        self.assertEqual(client.wait_exit(), 0, client.output)
        with open(history, "rb") as saved:  # the lines kept, the huge one not among them
            self.assertEqual(saved.read(), FIRST_LINE + b"mem\\0400\\0408\nquit\n")

    def hold_locked(self):
        """A history file that the test holds locked, as another run would."""
        history = os.path.join(self.cwd, "history")
        with open(history, "wb") as saved:
            saved.write(FIRST_LINE + b"old\n")
        holder = open(history, "rb")
        self.addCleanup(holder.close)
        fcntl.flock(holder, fcntl.LOCK_EX)
        return history

    def test_a_locked_history_costs_the_line_not_the_session(self):
        history = self.hold_locked()
        said = "cmdclient: cannot write history file '%s': still locked by another process " \
               "after 500 ms" % history
        self.assertEqual(self.run_one_command(history), [said, said])  # regs, then quit
        with open(history, "rb") as saved:
            self.assertEqual(saved.read(), FIRST_LINE + b"old\n")

    @unittest.skipUnless(STRACE, "needs strace (Debian package strace) to send the signal")
    @unittest.skipIf(CLIENT_PREFIX, "strace and a memory checker cannot both trace the client")
    def test_sigterm_while_waiting_for_the_lock_ends_the_run_before_sending(self):
        history = self.hold_locked()
        # SIGTERM as the client tries the lock a second time: it is waiting for it.
        tracer = [STRACE, "-f", "-qq", "-o", "/dev/null", "-e", "trace=flock",
                  "-e", "inject=flock:signal=SIGTERM:when=2"]
        server, client = self.start_watched([], history, command=tracer)
        client.type(b"regs\r")
        self.assertEqual(client.wait_exit(), -signal.SIGTERM, client.output)
        server.stop()
        self.assertEqual(server.received, b"")


if __name__ == "__main__":
    unittest.main()
