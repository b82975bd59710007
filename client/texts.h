// The console's own texts, in one place. Scripts match on every one of them.
#pragma once

namespace cmdclient::texts {

inline constexpr const char* banner = "Use decimal, C hex (0x2a) or Asm hex (14h) for input\n"
                                      "Return data reported according to specified radix\n"
                                      "Type 'help' or 'quit' to exit\n";
inline constexpr const char* prompt = "Ok> ";
// After a reply's closing "Ok" on the console: the "Ok" itself starts the prompt.
inline constexpr const char* prompt_rest = "> ";
// A "Syntax error" reply has no "Ok" of its own: a new line and the whole prompt.
inline constexpr const char* after_syntax_error = "\n";
inline constexpr const char* receive_failed = "Exception!\n";
inline constexpr const char* connect_failed = "Exception was caught:";
inline constexpr const char* final_newline = "\n";
// Back to the start of the line, and clear it (a terminal's control sequence).
inline constexpr const char* clear_line = "\r\x1b[K";

// %s stands for the program's name.
inline constexpr const char* usage = "usage: %s [hostname] port#\n";
inline constexpr const char* options_usage = "usage: %s [OPTIONS] [hostname] port#";
// kept verbatim: scripts match on it ("specifiy").
inline constexpr const char* no_port = "%s: must specifiy valid port number\n";

// Standard error lines, each after "cmdclient: ".
inline constexpr const char* error_prefix = "cmdclient: ";
inline constexpr const char* see_help = "see cmdclient --help";
inline constexpr const char* cannot_read_input = "cannot read standard input";
inline constexpr const char* cannot_open_command_file = "cannot open command file";
inline constexpr const char* cannot_read_command_file = "cannot read command file";
inline constexpr const char* out_of_memory = "out of memory";
inline constexpr const char* syntax_error = "Syntax error";
inline constexpr const char* discarding_reply =
    "interrupted: discarding the rest of the reply (Ctrl-C again to quit)";
// Before Tab lists more than a screenful of names.
inline constexpr const char* listing_question_start = "Display all ";
inline constexpr const char* listing_question_end = " possibilities? (y or n)";
inline constexpr const char* cannot_read_history = "cannot read history file";
inline constexpr const char* cannot_write_history = "cannot write history file";
// At a terminal where the line editor's module or its library cannot be loaded.
inline constexpr const char* no_line_editor = "no line editing (lines are read as typed)";
// After the host text in quotes: why it is not used.
inline constexpr const char* names_not_looked_up =
    "is not an IPv4 address or localhost (names are not looked up)";
inline constexpr const char* names_need_lookup =
    "is not an IPv4 address or localhost (names are looked up only with --lookup)";
inline constexpr const char* ipv6_needs_lookup = "is an IPv6 address (used only with --lookup)";
inline constexpr const char* bad_host =
    "is not a name, an IPv6 address or an IPv4 address of four decimal numbers from 0 to 255";
inline constexpr const char* no_ipv4_address = "has no IPv4 address (-4)";
inline constexpr const char* no_ipv6_address = "has no IPv6 address (-6)";
// After an option as typed.
inline constexpr const char* not_in_this_build = " is not available in this build";
// Each failed connect attempt but the last, after its reason: "; retrying in
// SECONDS s (attempt K of N)".
inline constexpr const char* retrying = "; retrying in ";
// After why a connection ended, when --reconnect makes it again; then the
// line for the new one, after "connected to PEER".
inline constexpr const char* connecting_again = "; connecting again";
inline constexpr const char* connected_again = " again";
inline constexpr const char* not_an_option =
    "is not an option or an IPv4 address (see cmdclient --help)";

inline constexpr const char* help =
    "usage: cmdclient [hostname] port#\n"
    "       cmdclient [OPTIONS] [hostname] port#\n"
    "       cmdclient --help | --version | -V\n"
    "\n"
    "Connects to a text command server (hostname: localhost, the default, or a\n"
    "dotted-decimal IPv4 address; a name or an IPv6 address with --lookup) and\n"
    "sends each line typed at the \"Ok> \" prompt as one command, showing its reply.\n"
    "\n"
    "  COMMAND            sends COMMAND and shows the reply\n"
    "  COMMAND > FILE     sends COMMAND and writes the reply into FILE\n"
    "  quit               ends the run (so does the end of input, or Ctrl-D)\n"
    "  terminate          is sent; the run ends after its reply\n"
    "\n"
    "Options (before, between or after the host and port; none after --):\n";
// After the option list made from the table of options.
inline constexpr const char* help_end =
    "\n"
    "Exit status: 0 after quit, terminate or the end of input; 1 for a usage\n"
    "error, a failed, lost or timed-out connection (with --reconnect: a reply\n"
    "cut short), or output or input that failed; 3 with -e for a \"Syntax error\"\n"
    "reply or a lost redirected reply; 129, 130, 141, 143 when ended by SIGHUP,\n"
    "SIGINT, SIGPIPE, SIGTERM.\n"
    "\n"
    "See cmdclient(1) for line editing, history, Ctrl-C and the reply rules.\n";

} // namespace cmdclient::texts
