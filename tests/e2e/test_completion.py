"""The shell completions made from the table of options: bash's function run
on a few command lines, zsh's and fish's files loaded by their shells."""

import os
import shutil
import subprocess
import tempfile
import unittest

FOLDER = os.environ.get("CMDCLIENT_COMPLETIONS", "")


def shell(args, cwd=None):
    result = subprocess.run(args, capture_output=True, cwd=cwd, timeout=30)
    if result.returncode != 0 or result.stderr:
        raise AssertionError("%r: %r" % (args, result.stderr))
    return result.stdout.decode().split("\n")[:-1]


@unittest.skipUnless(FOLDER, "CMDCLIENT_COMPLETIONS names no folder of completions")
class Completion(unittest.TestCase):

    def setUp(self):
        self.cwd = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.cwd)
        for name in ("session.log", "other.txt"):
            open(os.path.join(self.cwd, name), "w").close()

    # The words of a command line, the last one being completed, and what comes.
    CASES = [
        (["--ti"], ["--timeout", "--timestamps", "--timing"],
         ["--timeout", "--timestamps", "--timing"]),
        (["-f", "ot"], ["other.txt"], ["other.txt"]),
        (["5000", "--ec"], ["--echo"], ["--echo"]),
        (["-L", "se"], ["session.log"], ["session.log"]),
        (["--log-file", "=", "se"], ["session.log"], None),
        (["--", "--ti"], [], []),
        (["--timeout", ""], [], []),
    ]

    def test_bash_completes_options_and_the_log_file(self):
        for words, expected, _ in self.CASES:
            with self.subTest(words=words):
                script = ("source %s/cmdclient; COMP_WORDS=(cmdclient %s); "
                          "COMP_CWORD=%d; _cmdclient; printf '%%s\\n' \"${COMPREPLY[@]}\""
                          % (FOLDER, " ".join("'%s'" % w for w in words), len(words)))
                got = shell(["bash", "--norc", "--noprofile", "-c", script], self.cwd)
                self.assertEqual(sorted(w for w in got if w), expected)

    @unittest.skipUnless(shutil.which("fish"), "no fish")
    def test_fish_completes_options_and_the_log_file(self):
        for words, expected, fish_expected in self.CASES:
            if fish_expected is None:
                continue
            with self.subTest(words=words):
                line = "cmdclient " + " ".join(words)
                got = shell(["fish", "--no-config", "-c", "source %s/cmdclient.fish; "
                             "complete -C '%s'" % (FOLDER, line)], self.cwd)
                self.assertEqual(sorted(w.split("\t")[0] for w in got), fish_expected)

    @unittest.skipUnless(shutil.which("zsh"), "no zsh")
    def test_zsh_finds_and_loads_the_completion(self):
        script = ("fpath=(%s $fpath); autoload -Uz compinit; compinit -u -d %s/dump; "
                  "autoload -Uz +X _cmdclient && print -r -- $_comps[cmdclient]"
                  % (FOLDER, self.cwd))
        self.assertEqual(shell(["zsh", "-f", "-c", script]), ["_cmdclient"])


if __name__ == "__main__":
    unittest.main()
