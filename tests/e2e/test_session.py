"""A console session: the prompt, the input syntax, the client's own words and
the relay of replies to the console and to files."""

import os
import unittest

from harness import WINDOWS, InTemporaryDirectory, chunk, expect, send, session, text, transcript


class CommandLoop(InTemporaryDirectory, unittest.TestCase):

    def run_session(self, script, stdin):
        return session(self, script, stdin, cwd=self.cwd)

    def test_quit_ends_without_contacting_the_server(self):
        # Input, and the number of extra prompts the empty lines in it bring.
        for line, extra in [(b"quit\n", 0), (b"quit\r\n", 0), (b"quit > x\n", 0), (b"quit", 0),
                            (b"\n\nquit\nregs\n", 2)]:
            with self.subTest(line=line):
                result, server = self.run_session([], line)
                self.assertEqual(result.stdout, transcript(b"Ok> " * extra))
                self.assertEqual((result.returncode, result.stderr, server.received), (0, b"", b""))
                self.assertFalse(os.path.exists(os.path.join(self.cwd, "x")))

    def test_lines_are_sent_as_the_rules_cut_them(self):
        # Each line, the bytes the server must receive, and the file the reply
        # lands in (None: the console).
        cases = [(b" quit", b" quit", None), (b"quit ", b"quit ", None), (b"   ", b"   ", None),
                 (b"  regs > x", b"  regs", "x"), (b"regs   >    out.txt  ", b"regs", "out.txt  "),
                 (b"a>b>c", b"a", "b>c"), (b"regs > stdout", b"regs", None),
                 (b"regs\r", b"regs", None), (b"tab\t> t", b"tab\t", "t")]
        for line, sent, file_name in cases:
            if WINDOWS and file_name in ("out.txt  ", "b>c"):
                continue  # Windows drops trailing spaces from names and refuses '>'
            with self.subTest(line=line):
                result, server = self.run_session(
                    [expect(sent), chunk(b"R\nOk")], line + b"\nquit\n")
                if file_name is None:
                    self.assertEqual(result.stdout, transcript(b"R\nOk> "))
                else:
                    self.assertEqual(result.stdout, transcript(b"Ok> "))
                    self.assertEqual(self.file(file_name), text(b"R\n"))
                self.assertEqual(server.received, sent)

    def test_empty_commands_prompt_again_without_sending(self):
        result, server = self.run_session([], b"\n> file\n   > file\n>\nquit\n")
        self.assertEqual(result.stdout, transcript(b"Ok> " * 4))
        self.assertEqual(server.received, b"")
        self.assertEqual(os.listdir(self.cwd), [])

    def test_terminate_is_sent_and_ends_the_run_after_its_reply(self):
        result, server = self.run_session(
            [expect(b"terminate"), chunk(b"bye\nOk")], b"terminate\nregs\n")
        self.assertEqual(result.stdout, transcript(b"bye\nOk> "))
        self.assertEqual((result.returncode, server.received), (0, b"terminate"))

    def test_end_of_input_ends_like_quit_after_the_last_line(self):
        result, server = self.run_session([expect(b"regs"), chunk(b"Ok")], b"regs")
        self.assertEqual(result.stdout, transcript(b"Ok> "))
        self.assertEqual((result.returncode, server.received), (0, b"regs"))
        result, server = self.run_session([], b"")
        self.assertEqual((result.stdout, result.returncode), (transcript(), 0))

    def test_long_command_arrives_intact(self):
        command = bytes(b"0123456789abcdef"[i % 16] for i in range(3 << 20))
        result, server = self.run_session([expect(command), chunk(b"Ok")], command + b"\n")
        self.assertEqual(result.stdout, transcript(b"Ok> "))
        self.assertEqual(len(server.received), len(command))


class ReplyRelay(InTemporaryDirectory, unittest.TestCase):

    def test_reply_rules_on_the_console_and_in_a_file(self):
        # Chunks the server sends (each received alone), the console text after
        # the prompt, and what the file r.txt holds when the reply goes there.
        cases = [
            ([b"A=1F\nOk"], b"A=1F\nOk> ", b"Ok> ", b"A=1F\n"),
            ([b"A=1F\n", b"Ok"], b"A=1F\nOk> ", b"Ok> ", b"A=1F\n"),
            ([b"Syntax error"], b"Syntax error\nOk> ", b"\nOk> ", b"Syntax error"),
            ([b"Syntax error\nOk"], b"Syntax error\nOk> ", b"Ok> ", b"Syntax error\n"),
            # A closing "Ok" cut by a receive boundary still ends the reply, but
            # only a receive that is exactly "k" right after an "O" completes it.
            ([b"line O", b"k"], b"line Ok> ", b"Ok> ", b"line "),
            ([b"O", b"kk", b"O", b"x", b"k", b"Ok"], b"OkkOxkOk> ", b"Ok> ", b"OkkOxk"),
            ([b"AB\0CD\n", b"\0hidden", b"Ok"], b"ABOk> ", b"Ok> ", b"AB"),
            ([b"k", b"Ok\n", b"\r\n\x1b[2J\xff\xfeOk"], b"kOk\n\r\n\x1b[2J\xff\xfeOk> ",
             b"Ok> ", b"kOk\n\r\n\x1b[2J\xff\xfe"),
        ]
        for chunks, on_console, with_file, in_file in cases:
            script = [chunk(c) for c in chunks]
            with self.subTest(chunks=chunks, target="console"):
                result, _ = session(self, [expect(b"regs")] + script, b"regs\n", cwd=self.cwd)
                self.assertEqual(result.stdout, transcript(on_console))
            with self.subTest(chunks=chunks, target="file"):
                result, _ = session(self, [expect(b"regs")] + script, b"regs > r.txt\n",
                                    cwd=self.cwd)
                self.assertEqual(result.stdout, transcript(with_file))
                self.assertEqual((result.stderr, self.file("r.txt")), (b"", text(in_file)))

    def test_receives_take_at_most_500_bytes(self):
        # Sent at once: the first receive takes 500 bytes, which end in "Ok", so
        # the first reply ends there and the rest answers the next command.
        first = b"a" * 498 + b"Ok"
        rest = b"b" * 100 + b"Ok"
        result, _ = session(self, [expect(b"one"), send(first + rest), expect(b"two")],
                            b"one\ntwo\n", cwd=self.cwd)
        self.assertEqual(result.stdout, transcript(first + b"> ", rest + b"> "))

    def test_text_outside_a_reply_starts_the_next_one(self):
        result, _ = session(self, [send(b"hello "), expect(b"one"), chunk(b"Ok"),
                                   send(b"early "), expect(b"two"), chunk(b"Ok")],
                            b"one\ntwo\n", cwd=self.cwd)
        self.assertEqual(result.stdout, transcript(b"hello Ok> ", b"early Ok> "))

    def test_long_replies_arrive_byte_exact(self):
        # Printable text without an 'O', so no receive can end in "Ok" early.
        body = bytes(b"abcdefghijklmnopqrstuvwxyz0123456789\n"[i % 37] for i in range(6 << 20))
        script = [expect(b"dump"), chunk(body), chunk(b"Ok")]
        result, _ = session(self, script, b"dump\n", cwd=self.cwd)
        self.assertTrue(result.stdout == transcript(body + b"Ok> "), "console relay differs")
        result, _ = session(self, script, b"dump > big.txt\n", cwd=self.cwd)
        self.assertEqual(result.stdout, transcript(b"Ok> "))
        self.assertTrue(self.file("big.txt") == text(body), "file relay differs")

    def test_each_redirect_replaces_the_file(self):
        result, _ = session(self, [expect(b"one"), chunk(b"first reply\nOk"),
                                   expect(b"two"), chunk(b"2\nOk")],
                            b"one > r.txt\ntwo > r.txt\n", cwd=self.cwd)
        self.assertEqual(result.stdout, transcript(b"Ok> Ok> "))
        self.assertEqual(self.file("r.txt"), text(b"2\n"))


if __name__ == "__main__":
    unittest.main()
