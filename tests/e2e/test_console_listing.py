"""At a terminal: what Tab lists, laid out in columns, and the lines that
$CMDCLIENT_HISTIGNORE keeps out of the history."""

import os
import unittest

from harness import chunk, expect
from terminal import TAB, UP, TerminalTest

LONG, SHORT = "a_long_register_dump_number_one.txt", "c_short.txt"
LONGER = "d_another_long_register_dump.txt"


class ConsoleListing(TerminalTest, unittest.TestCase):

    def test_tab_lists_last_parts_down_columns_and_completes_under_the_home_folder(self):
        dumps = os.path.join(self.cwd, "dumps")
        os.makedirs(os.path.join(dumps, "b"))
        for name in (LONG, SHORT, LONGER, ".hidden"):
            open(os.path.join(dumps, name), "w").close()
        server, client = self.start([expect(b"regs"), chunk(b"A=1\nOk")])
        client.type(b"regs > ~/dumps/" + TAB)
        # Too wide for one row of 80 columns: two, each column as wide as its
        # widest name and two spaces; the line is drawn again below.
        rows = [LONG + "  " + SHORT, "b/" + " " * len(LONG) + LONGER]
        client.wait_for(lambda lines: lines[4:6] == rows and
                        client.cursor_line() == "Ok> regs > ~/dumps/", "the listing")
        client.type(b"c" + TAB)
        client.wait_for(lambda lines: client.cursor_line() == "Ok> regs > ~/dumps/" + SHORT,
                        "the completed name")
        client.type(b"\r")
        client.wait_for_prompt("Ok> regs > ~/dumps/" + SHORT)
        client.type(b"quit\r")
        self.assertEqual(client.wait_exit(), 0, client.output)
        self.assertEqual(self.file("dumps/" + SHORT), b"A=1\n")

    def test_tab_fills_in_the_common_part_and_lists_the_names_at_once(self):
        os.mkdir(os.path.join(self.cwd, "sp"))
        for name in ("my dump.txt", "my other.txt"):
            open(os.path.join(self.cwd, "sp", name), "w").close()
        server, client = self.start([expect(b"regs"), chunk(b"A=1\nOk")])
        client.type(b"regs > sp/my" + TAB)
        # The space both share is in the line; the names show it is a choice.
        typed = "Ok> regs > sp/my "
        client.wait_for(lambda lines: lines[4] == "my dump.txt  my other.txt" and
                        lines[5] == typed.rstrip() and client.screen.cursor.x == len(typed),
                        "the common part and the listing")
        client.type(b"d" + TAB + b"\r")
        client.wait_for_prompt("Ok> regs > sp/my dump.txt")
        client.type(b"quit\r")
        self.assertEqual(client.wait_exit(), 0, client.output)
        self.assertEqual(self.file("sp/my dump.txt"), b"A=1\n")

    def test_many_matches_are_listed_only_when_asked(self):
        os.mkdir(os.path.join(self.cwd, "many"))
        for number in range(600):
            open(os.path.join(self.cwd, "many", "f%03d" % number), "w").close()
        server, client = self.start([])
        question = "Display all 600 possibilities? (y or n)"
        for answer, listed in [(b"n", False), (b"y", True)]:
            asked = client.output.count(question.encode())
            client.type(b"regs > many/f" + TAB)
            client.wait_for(lambda lines: client.output.count(question.encode()) > asked and
                            client.cursor_line() == question, "the question")
            client.type(answer)
            client.wait_for(lambda lines: client.cursor_line() == "Ok> regs > many/f",
                            "the line again")
            self.assertEqual(b"f599" in client.output, listed)
            client.type(b"\x15")  # Ctrl-U empties the line
        client.type(b"quit\r")
        self.assertEqual(client.wait_exit(), 0, client.output)

    def test_lines_matching_histignore_are_sent_but_not_kept(self):
        history = os.path.join(self.cwd, ".local", "state", "cmdclient", "history")
        server, client = self.start([expect(b"regs"), chunk(b"Ok"),
                                     expect(b"login secret"), chunk(b"Ok")],
                                    {"CMDCLIENT_HISTIGNORE": "::x:login *"})
        client.type(b"regs\r")
        client.wait_for_prompt("Ok> regs")
        client.type(b"login secret\r")
        client.wait_for_prompt("Ok> login secret")
        client.type(UP)
        client.wait_for(lambda lines: client.cursor_line() in ("Ok> regs", "Ok> login secret"),
                        "the previous line")
        self.assertEqual(client.cursor_line(), "Ok> regs")
        client.type(b"\x15quit\r")  # Ctrl-U empties the line first
        self.assertEqual(client.wait_exit(), 0, client.output)
        server.stop()
        self.assertEqual(server.received, b"regslogin secret")
        with open(history, "rb") as saved:
            self.assertEqual(saved.read().split(b"\n")[1:], [b"regs", b"quit", b""])


if __name__ == "__main__":
    unittest.main()
