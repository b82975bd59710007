"""Real pipes and hostile environments: output that must reach a slow reader,
non-blocking or closed standard descriptors, unreadable input, memory and
file-size limits."""

import fcntl
import os
import resource
import signal
import tempfile
import subprocess
import termios
import threading
import time
import unittest

from harness import (BANNER, CLIENT, CLIENT_PREFIX, RUN_DEADLINE, FakeServer, chunk, expect,
                     notify, send, transcript, wait_for)

CHECKED = bool(CLIENT_PREFIX) or "ASAN_OPTIONS" in os.environ  # limits upset checkers


def read_until(fd, needle, collected=b""):
    """Reads `fd` until `needle` shows up, it ends or the deadline passes."""
    end = time.monotonic() + RUN_DEADLINE
    while needle not in collected and time.monotonic() < end:
        try:
            piece = os.read(fd, 65536)
        except BlockingIOError:
            time.sleep(0.01)
            continue
        if not piece:
            break
        collected += piece
    return collected


def non_blocking(fd):
    fcntl.fcntl(fd, fcntl.F_SETFL, fcntl.fcntl(fd, fcntl.F_GETFL) | os.O_NONBLOCK)


def start(server, stdin=subprocess.PIPE, stdout=subprocess.PIPE, cwd=None, prepare=None):
    return subprocess.Popen(CLIENT_PREFIX + [CLIENT, str(server.port)], stdin=stdin,
                            stdout=stdout, stderr=subprocess.PIPE, cwd=cwd,
                            preexec_fn=prepare)


class OutputReachesItsReader(unittest.TestCase):

    def test_what_arrived_is_written_out_before_the_client_waits(self):
        # On a pipe, and in a redirect file, the first part of a slow reply
        # shows before the rest is even sent.
        for target in ("console", "file"):
            with self.subTest(target), tempfile.TemporaryDirectory() as cwd:
                go_on = threading.Event()
                script = [expect(b"slow"), chunk(b"first;"), wait_for(go_on), chunk(b"rest\nOk")]
                line = b"slow\n" if target == "console" else b"slow > f.txt\n"
                path = os.path.join(cwd, "f.txt")
                with FakeServer(script) as server:
                    client = start(server, cwd=cwd)
                    try:
                        client.stdin.write(line)
                        client.stdin.flush()
                        if target == "console":
                            shown = read_until(client.stdout.fileno(), b"first;")
                        else:
                            end = time.monotonic() + RUN_DEADLINE
                            shown = b""
                            while b"first;" not in shown and time.monotonic() < end:
                                time.sleep(0.01)
                                if os.path.exists(path):
                                    with open(path, "rb") as f:
                                        shown = f.read()
                        self.assertIn(b"first;", shown)
                    finally:
                        go_on.set()
                        client.communicate(timeout=RUN_DEADLINE)
                    self.assertEqual(client.returncode, 0)


class StopSignals(unittest.TestCase):

    @unittest.skipIf(CLIENT_PREFIX, "a memory checker reports a death by signal its own way")
    def test_a_stop_signal_ends_the_run_by_itself_after_writing_out(self):
        # In a script Ctrl-C is a stop signal too. What arrived of the reply
        # stays in the file; the parent sees the signal, as a shell shows 143...
        for stop in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
            with self.subTest(stop.name), tempfile.TemporaryDirectory() as cwd:
                drained, go_on = threading.Event(), threading.Event()
                script = [expect(b"dump"), chunk(b"first part;"), notify(drained),
                          wait_for(go_on)]
                with FakeServer(script) as server:
                    client = start(server, cwd=cwd)
                    try:
                        client.stdin.write(b"dump > f.txt\n")
                        client.stdin.flush()
                        self.assertTrue(drained.wait(RUN_DEADLINE))
                        client.send_signal(stop)
                        out, err = client.communicate(timeout=RUN_DEADLINE)
                    finally:
                        go_on.set()
                with open(os.path.join(cwd, "f.txt"), "rb") as f:
                    self.assertEqual(f.read(), b"first part;")
                self.assertEqual((client.returncode, out, err), (-stop, BANNER + b"Ok> ", b""))


class HomeFolder(unittest.TestCase):

    def test_a_reply_file_under_tilde_slash_goes_to_the_home_folder(self):
        # Run where no folder named "~" exists; the failed open names the
        # file that was tried.
        with tempfile.TemporaryDirectory() as home, tempfile.TemporaryDirectory() as cwd:
            script = [expect(b"regs"), chunk(b"A=1\nOk"), expect(b"regs"), chunk(b"A=2\nOk")]
            with FakeServer(script) as server:
                result = subprocess.run(CLIENT_PREFIX + [CLIENT, str(server.port)],
                                        input=b"regs > ~/r.txt\nregs > ~/none/r.txt\n",
                                        capture_output=True, cwd=cwd, timeout=RUN_DEADLINE,
                                        env=dict(os.environ, HOME=home))
            self.assertEqual(result.stderr, b"cmdclient: cannot open reply file '%s/none/r.txt': "
                             b"No such file or directory\n" % home.encode())
            self.assertEqual((result.returncode, result.stdout), (0, transcript(b"Ok> Ok> ")))
            with open(os.path.join(home, "r.txt"), "rb") as saved:
                self.assertEqual(saved.read(), b"A=1\n")
            self.assertEqual(os.listdir(cwd), [])


class HostileEnvironment(unittest.TestCase):
    """Each condition, and what the client must do under it."""

    def test_non_blocking_input_is_waited_on(self):
        # A parent left O_NONBLOCK on the pipe; the lines come only later.
        read_end, write_end = os.pipe()
        non_blocking(read_end)
        with FakeServer([expect(b"regs"), chunk(b"A=1\nOk")]) as server:
            client = start(server, stdin=read_end)
            os.close(read_end)
            try:
                shown = read_until(client.stdout.fileno(), b"Ok> ")
                os.write(write_end, b"regs\nquit\n")
            finally:
                os.close(write_end)
            out, err = client.communicate(timeout=RUN_DEADLINE)
        self.assertEqual(shown + out, transcript(b"A=1\nOk> "))
        self.assertEqual((client.returncode, err, server.received), (0, b"", b"regs"))

    def test_unreadable_input_is_reported_not_taken_for_its_end(self):
        directory = os.open(os.path.dirname(CLIENT), os.O_RDONLY)
        with FakeServer([]) as server:
            client = start(server, stdin=directory)
            os.close(directory)
            out, err = client.communicate(timeout=RUN_DEADLINE)
        self.assertEqual(err, b"cmdclient: cannot read standard input: Is a directory\n")
        self.assertEqual((client.returncode, out, server.received), (1, transcript(b""), b""))

    def test_closed_standard_descriptors_never_reach_the_server(self):
        # Started with one of them closed, the connection would take its number.
        for closed, stdin in [(0, b""), (1, b"regs\n"), (2, b"regs > missing/x\n")]:
            if closed == 2 and CLIENT_PREFIX:
                continue  # a memory checker needs standard error for its own reports
            with self.subTest(closed=closed), FakeServer([expect(b"regs"), chunk(b"Ok")]) as server:
                client = start(server, prepare=lambda: os.close(closed))
                out, err = client.communicate(stdin, timeout=RUN_DEADLINE)
                self.assertEqual(server.received, stdin[:4])
                self.assertEqual(client.returncode, 0)

    def test_non_blocking_output_loses_nothing(self):
        body = b"0123456789abcdef\n" * 18000  # 300 KB, far more than a pipe holds
        read_end, write_end = os.pipe()
        non_blocking(write_end)
        full = threading.Event()
        with FakeServer([expect(b"dump"), send(body), notify(full), chunk(b"Ok")]) as server:
            commands, to_commands = os.pipe()
            os.write(to_commands, b"dump\n")
            os.close(to_commands)
            client = start(server, stdin=commands, stdout=write_end)
            os.close(write_end)
            os.close(commands)
            # Read only once the pipe is full, so the client meets EAGAIN.
            self.assertTrue(full.wait(RUN_DEADLINE))
            end = time.monotonic() + RUN_DEADLINE
            while time.monotonic() < end:
                queued = fcntl.ioctl(read_end, termios.FIONREAD, b"\0\0\0\0")
                if int.from_bytes(queued, "little") >= 60000:
                    break
                time.sleep(0.01)
            out = read_until(read_end, b"\nOk> \n")
            os.close(read_end)
            _, err = client.communicate(timeout=RUN_DEADLINE)
        self.assertEqual((client.returncode, err), (0, b""))
        self.assertEqual(out, transcript(body + b"Ok> "))

    @unittest.skipIf(CHECKED, "memory limits upset sanitizers and valgrind")
    def test_out_of_memory_is_reported_after_writing_out(self):
        def limit_memory():
            resource.setrlimit(resource.RLIMIT_AS, (256 << 20, 256 << 20))

        with FakeServer([expect(b"regs"), chunk(b"A=1\nOk")]) as server:
            read_end, write_end = os.pipe()
            client = start(server, stdin=read_end, prepare=limit_memory)
            os.close(read_end)
            feeder = threading.Thread(target=self._feed, args=(write_end,), daemon=True)
            feeder.start()
            out, err = client.communicate(timeout=RUN_DEADLINE)
            feeder.join(RUN_DEADLINE)
        self.assertEqual(err, b"cmdclient: out of memory\n")
        self.assertEqual(out, BANNER + b"Ok> A=1\nOk> ")
        self.assertEqual((client.returncode, server.received), (1, b"regs"))

    @staticmethod
    def _feed(fd):
        # One line longer than the memory allowed: it never gets a newline.
        try:
            os.write(fd, b"regs\n")
            block = b"x" * (1 << 20)
            for _ in range(512):
                os.write(fd, block)
        except BrokenPipeError:
            pass
        finally:
            os.close(fd)

    def test_file_size_limit_fails_the_write_not_the_client(self):
        def limit_files():
            resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))

        body = b"z" * 300000
        script = [expect(b"dump"), chunk(body), chunk(b"Ok"), expect(b"regs"), chunk(b"A=1\nOk")]
        with tempfile.TemporaryDirectory() as cwd, FakeServer(script) as server:
            client = start(server, cwd=cwd, prepare=limit_files)
            out, err = client.communicate(b"dump > big.txt\nregs\n", timeout=RUN_DEADLINE)
            size = os.path.getsize(os.path.join(cwd, "big.txt"))
        self.assertEqual(err, b"cmdclient: cannot write reply file 'big.txt': File too large\n")
        self.assertEqual((client.returncode, out), (0, transcript(b"Ok> A=1\nOk> ")))
        self.assertEqual(size, 100000)


if __name__ == "__main__":
    unittest.main()
