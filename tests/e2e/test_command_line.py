"""The command line, the start-up messages and the exit status."""

import select
import socket
import unittest

from harness import (BANNER, RUN_DEADLINE, WINDOWS, FakeServer, chunk, close, expect,
                     program_name, refused_port, run_client, session, text)

PORT_ERROR = text(b": must specifiy valid port number\n")
CONNECT_FAILED = text(b"Exception was caught:Could not bind to port.\n\n")


class ArgumentErrors(unittest.TestCase):
    """Errors found before any connection: a message on standard output, status 1."""

    def test_no_arguments_prints_usage(self):
        result = run_client([])
        self.assertEqual(result.stdout, b"usage: " + program_name() + text(b" [hostname] port#\n"))
        self.assertEqual((result.returncode, result.stderr), (1, b""))

    def test_help_and_version_act_among_the_options(self):
        for args in (["--version"], ["-V", "--help"], ["-q", "--version", "5000"]):
            with self.subTest(args=args):
                result = run_client(args)
                self.assertEqual((result.returncode, result.stdout, result.stderr),
                                 (0, text(b"cmdclient 1.2.0\n"), b""))
        for args in (["--help"], ["--help", "x"], ["-e", "--help", "--version"]):
            with self.subTest(args=args):
                result = run_client(args)
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                self.assertTrue(result.stdout.startswith(b"usage: cmdclient [hostname] port#"))
                self.assertIn(b"cmdclient(1)", result.stdout)

    def test_without_a_usable_port(self):
        # Arguments that are none of ours are host texts: "-h" and "-- --help" are no help.
        cases = [["hostA", "hostB"], ["-5", "host"], ["localhost"], ["+5000"], ["-h"],
                 ["--", "--help"], ["x", "--", "-h"],
                 ["65536"], ["65537"], ["99999999999999999999999"], ["70000", "localhost"],
                 ["0000000000000000000000065536"]]
        for args in cases:
            with self.subTest(args=args):
                result = run_client(args)
                self.assertEqual(result.stdout, program_name() + PORT_ERROR)
                self.assertEqual((result.returncode, result.stderr), (1, b""))


    def test_an_option_that_took_the_port_or_one_of_ours_as_its_value(self):
        swallowed = b"cmdclient: --timeout took '5000' as its value; the port is missing\n"
        usage = text(b"usage: ") + program_name() + text(b" [hostname] port#\n")
        cases = [(["--timeout", "5000"], usage, swallowed),
                 (["host", "--timeout", "5000"], program_name() + PORT_ERROR, swallowed),
                 (["-L", "-q", "5000"], b"", b"cmdclient: -L needs a file name, not the option "
                  b"'-q'; usage: " + program_name() + b" [OPTIONS] [hostname] port#\n")]
        for args, stdout, stderr in cases:
            with self.subTest(args=args):
                result = run_client(args)
                self.assertEqual((result.returncode, result.stdout, result.stderr),
                                 (1, stdout, text(stderr)))

    def test_our_options_after_the_host_and_port(self):
        # A script that puts -e last stops at the "Syntax error".
        result, _ = session(self, [expect(b"bad"), chunk(b"Syntax error")], b"bad\nregs\n",
                            args=["-q", "-e"])
        self.assertEqual((result.returncode, result.stdout), (3, text(b"Syntax error\n")))


class Connecting(unittest.TestCase):
    """Each case names where the client must connect, given the listener's port."""

    def connects(self, make_args):
        with FakeServer([close()]) as server:
            result = run_client(make_args(server.port))
            # The kernel completes the connect before the server thread accepts it.
            self.assertTrue(server.connected.wait(RUN_DEADLINE), "no connection arrived")
        self.assertEqual(result.stderr, b"")
        self.assertTrue(result.stdout.startswith(BANNER), result.stdout)
        return result

    def test_host_and_port_in_either_order(self):
        holder, unused = refused_port()
        with holder:
            cases = {
                "port alone means localhost": lambda p: [p],
                "port then address": lambda p: [p, "127.0.0.1"],
                "address then port": lambda p: ["127.0.0.1", p],
                "localhost named": lambda p: ["localhost", p],
                "second port wins": lambda p: [unused, p],
                "leading zeros": lambda p: ["000%d" % p],
            }
            for name, make_args in cases.items():
                with self.subTest(name):
                    self.connects(make_args)

    def test_connect_failures_print_banner_and_reason_and_exit_1(self):
        holder, unused = refused_port()
        # Listens but never accepts: a connection that reached it stays queued.
        unreached = socket.create_server(("127.0.0.1", 0))
        port = unreached.getsockname()[1]
        with holder, unreached:
            # Arguments, and the reason standard error gives (the system's text
            # for the error follows a refused connection).
            refused = b"cmdclient: cannot connect to localhost port %d: "
            # Where the build has a lookup, the reason says how to ask for one.
            not_address = b"cmdclient: '%s' is not an IPv4 address or localhost " + (
                b"(names are not looked up)\n" if WINDOWS
                else b"(names are looked up only with --lookup)\n")
            ipv6 = not_address if WINDOWS else b"cmdclient: '%s' is an IPv6 address " \
                                               b"(used only with --lookup)\n"
            not_option = b"cmdclient: '%s' is not an option or an IPv4 address " \
                         b"(see cmdclient --help)\n"
            cases = {
                "nothing listening": ([unused], refused % unused),
                "empty argument is port 0": ([""], refused % 0),
                "host that is not an address": ([port, "extra1", "extra2"],
                                                not_address % b"extra1"),
                "no name lookup": (["127.1", port], not_address % b"127.1"),
                "nor IPv6": (["::1", port], ipv6 % b"::1"),
                "none of ours is a host text": (["-h", port], not_option % b"-h"),
                "nor is a mistyped one": (["--timout", port], not_option % b"--timout"),
            }
            for name, (args, reason) in cases.items():
                with self.subTest(name):
                    result = run_client(args)
                    self.assertEqual(result.stdout, BANNER + CONNECT_FAILED)
                    self.assertEqual(result.returncode, 1)
                    if reason.endswith(b": ") and not WINDOWS:
                        reason += b"Connection refused\n"
                    self.assertTrue(result.stderr.startswith(text(reason)), result.stderr)
                    self.assertEqual(result.stderr.count(b"\n"), 1)
            self.assertFalse(select.select([unreached], [], [], 0.2)[0],
                             "an unconvertible host was tried")

    def test_retry_and_the_lookup_where_the_build_has_none(self):
        holder, unused = refused_port()
        retrying = (b"cmdclient: cannot connect to localhost port %d: .+; retrying in 0 s "
                    b"\\(attempt 1 of 2\\)\r?\n" % unused)
        cases = [(["--retry", "1", "--retry-delay", "0", unused], 1, BANNER + CONNECT_FAILED,
                  retrying + b"cmdclient: cannot connect to localhost port %d: .+\r?\n" % unused)]
        if WINDOWS:
            # Refused before the banner, naming the option as given.
            cases += [([option, "::1", unused], 1, b"",
                       b"cmdclient: %s is not available in this build\r?\n" % option.encode())
                      for option in ("-6", "-4", "--lookup")]
        with holder:
            for args, status, stdout, stderr in cases:
                with self.subTest(args=args):
                    result = run_client(args)
                    self.assertEqual(result.returncode, status)
                    self.assertEqual(result.stdout, stdout)
                    self.assertRegex(result.stderr, b"^" + stderr + b"$")


if __name__ == "__main__":
    unittest.main()
