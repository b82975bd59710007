"""Runs one end-to-end suite in a fresh temporary working directory, so that
no test can write into the source tree: run_suite.py SUITE[.CLASS] [unittest args]."""

import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))

if __name__ == "__main__":
    sys.path.insert(0, HERE)
    suite, _, cases = sys.argv[1].partition(".")
    with tempfile.TemporaryDirectory(prefix="cmdclient-e2e-") as work:
        os.chdir(work)
        program = unittest.main(module=suite, argv=[sys.argv[0], "-v"] + ([cases] if cases else []) + sys.argv[2:],
                                exit=False)
        os.chdir(HERE)
    sys.exit(not program.result.wasSuccessful())
