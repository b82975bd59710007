"""The real client against the bundled demo server."""

import os
import subprocess
import tempfile
import unittest

from harness import BANNER, RUN_DEADLINE, run_client

DEMO_SERVER = os.environ.get("CMDCLIENT_DEMO_SERVER", "")


@unittest.skipUnless(DEMO_SERVER, "CMDCLIENT_DEMO_SERVER names no demo server")
class DemoSession(unittest.TestCase):

    def test_a_session_from_help_to_terminate(self):
        server = subprocess.Popen([DEMO_SERVER, "0"], stdout=subprocess.PIPE)
        try:
            port = int(server.stdout.readline().split()[-1])
            with tempfile.TemporaryDirectory() as cwd:
                stdin = (b"help\nset A 0x2a\nset B 14h\nradix 10\nregs\nbogus\n"
                         b"radix 16\nmem 0 4096 > dump.txt\nterminate\n")
                result = run_client([port], stdin, cwd=cwd)
                with open(os.path.join(cwd, "dump.txt"), "rb") as f:
                    dump = f.read()
            self.assertEqual(server.wait(RUN_DEADLINE), 0, "terminate did not stop the server")
        finally:
            if server.poll() is None:
                server.kill()
            server.wait()
            server.stdout.close()

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


if __name__ == "__main__":
    unittest.main()
