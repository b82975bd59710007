"""The real client against the bundled demo server."""

import contextlib
import os
import select
import subprocess
import tempfile
import time
import unittest

from harness import BANNER, RUN_DEADLINE, SegmentingProxy, live_client, run_client

DEMO_SERVER = os.environ.get("CMDCLIENT_DEMO_SERVER", "")


def read_until(stream, marker):
    """Reads a child's output pipe until `marker` has arrived; fails if it has
    not within RUN_DEADLINE seconds or the output ends first."""
    data = b""
    deadline = time.monotonic() + RUN_DEADLINE
    while marker not in data:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([stream], [], [], left)[0]:
            raise AssertionError("no %r within %s s, got %r" % (marker, RUN_DEADLINE, data))
        more = os.read(stream.fileno(), 4096)
        if not more:
            raise AssertionError("output ended before %r, got %r" % (marker, data))
        data += more
    return data


@contextlib.contextmanager
def demo_server():
    """Starts the demo server on a port the system chooses; yields it and the
    port, and kills it at the end if it is still running."""
    server = subprocess.Popen([DEMO_SERVER, "0"], stdout=subprocess.PIPE)
    try:
        yield server, int(read_until(server.stdout, b"\n").split()[-1])
    finally:
        if server.poll() is None:
            server.kill()
        server.wait()
        server.stdout.close()


@unittest.skipUnless(DEMO_SERVER, "CMDCLIENT_DEMO_SERVER names no demo server")
class DemoSession(unittest.TestCase):

    def test_every_reply_ends_when_a_network_cuts_it_into_segments(self):
        # Receives end where 1448-byte segments end, so for some reply lengths
        # (mem 0 857 among them) the closing "Ok" is cut: "...O", then "k".
        commands = b"".join(b"mem 0 %d\n" % count for count in range(840, 880))
        with demo_server() as (server, port):
            direct = run_client([port], commands)
            with SegmentingProxy(port) as proxy:
                cut = run_client([proxy.port], commands)
        self.assertEqual(proxy.failures, [])
        self.assertEqual((cut.returncode, cut.stderr), (0, b""))
        self.assertEqual(cut.stdout, direct.stdout)

    def test_a_session_from_help_to_terminate(self):
        with demo_server() as (server, port), tempfile.TemporaryDirectory() as cwd:
            stdin = (b"help\nset A 0x2a\nset B 14h\nradix 10\nregs\nbogus\n"
                     b"radix 16\nmem 0 4096 > dump.txt\nterminate\n")
            result = run_client([port], stdin, cwd=cwd)
            with open(os.path.join(cwd, "dump.txt"), "rb") as f:
                dump = f.read()
            self.assertEqual(server.wait(RUN_DEADLINE), 0, "terminate did not stop the server")

        self.assertEqual((result.returncode, result.stderr), (0, b""))
        out = result.stdout
        self.assertTrue(out.startswith(BANNER + b"Ok> Commands"), out[:200])
        self.assertIn(b"\nOk> A=42 B=20 C=0 D=0 SP=4096 PC=0\nOk> Syntax error\nOk> ", out)
        self.assertTrue(out.endswith(b"Ok> Ok> Server stopping\nOk> \n"), out[-80:])
        # 4096 bytes, 16 a line: a dump spanning many receives, complete in the file.
        lines = dump.split(b"\n")
        self.assertEqual((len(lines), lines[-1]), (257, b""))
        self.assertTrue(lines[0].startswith(b"0000: 03 0A 11 18"))
        self.assertTrue(lines[255].startswith(b"0FF0: "))

    def test_clients_at_once_share_one_machine_and_terminate_closes_them(self):
        with demo_server() as (server, port), live_client(port) as first, \
                live_client(port) as second:
            for idle in (first, second):  # connected, at the prompt, nothing sent
                read_until(idle.stdout, b"Ok> ")
            busy = run_client([port], b"set A 0x2a\nquit\n")
            self.assertEqual(busy.returncode, 0)
            self.assertIn(b"Ok> A=0000002A B=00000000 ", busy.stdout)
            self.assertIsNone(first.poll())
            out, _ = first.communicate(b"regs\nterminate\n", timeout=RUN_DEADLINE)
            self.assertEqual(first.returncode, 0)
            self.assertTrue(out.startswith(b"A=0000002A "), out)  # the other client set it
            self.assertTrue(out.endswith(b"Ok> Server stopping\nOk> \n"), out[-80:])
            self.assertEqual(server.wait(RUN_DEADLINE), 0, "terminate did not stop the server")
            # The server closed the connection of the client still idle.
            out, _ = second.communicate(b"regs\n", timeout=RUN_DEADLINE)
            self.assertEqual(second.returncode, 1)
            self.assertTrue(out.endswith(b"Exception!\n\n"), out[-80:])


if __name__ == "__main__":
    unittest.main()
