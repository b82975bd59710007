// Reading the command line: options, then an optional host and a port, in
// either order.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cmdclient {

// True when every character of `arg` is a decimal digit; the empty text counts.
bool is_numeric(const char* arg) noexcept;

// Host and port texts found on the command line; null where absent.
struct ServerArguments {
    const char* host = nullptr;
    const char* port = nullptr;
};

// Looks at the first two arguments from `first` on: a numeric one is the
// port, any other the host, and the second replaces the first in the same role.
// Further arguments are ignored.
ServerArguments classify_arguments(int argc, char* const argv[], int first = 1) noexcept;

// The value of a numeric port text, or nothing when it is above 65535 (however
// many digits it has). The empty text is port 0.
std::optional<int> parse_port(const char* digits) noexcept;

// A positive, finite number of seconds (a fraction is allowed), or nothing;
// with `zero_too`, 0 as well.
std::optional<double> parse_seconds(const char* text, bool zero_too = false) noexcept;

// A number of seconds given on the command line, and its text for messages.
struct Seconds {
    double value = 0;
    std::string text;
};

// Which addresses of a looked-up host are tried.
enum class Family { any, ipv4, ipv6 };

// A -f file of commands, read after the first `after_commands` -c commands
// (so that -c and -f run in the order given); "-" is standard input.
struct CommandFile {
    std::size_t after_commands = 0;
    std::string name;
};

// What the options before the host and port ask for.
struct Options {
    std::optional<Seconds> timeout;         // --timeout: longest wait for a reply's next byte
    std::optional<Seconds> connect_timeout; // --connect-timeout
    bool exit_on_error = false;             // -e: stop at the first "Syntax error"
    bool quiet = false;                     // -q: only the replies' text on standard output
    std::vector<std::string> commands;      // -c: run these instead of reading standard input
    // --lookup, -4, -6: the host text may be a name or an IPv6 address;
    // `lookup_option` is the first of them as typed ("-6"), for messages.
    bool lookup = false;
    Family family = Family::any;
    std::string lookup_option;
    int retries = 0;                        // --retry: connect attempts after the first
    Seconds retry_delay{1, "1"};            // --retry-delay: the pause between attempts
    std::optional<std::string> log_file;    // -L: append the session to this file
    bool timestamps = false;                // -t: each line of the log stamped with the time
    bool echo = false;                      // --echo: lines not typed are shown after their prompt
    std::vector<CommandFile> files;         // -f: files of commands, among the -c ones
    bool reconnect = false;                 // --reconnect: a lost connection is made again
    int repeat = 1;                         // -r: each command is sent this often; 0: until stopped
    Seconds interval;                       // -i: the pause between repetitions of one line
    bool timing = false;                    // --timing: each reply's time on standard error
};

// What the command line asks for, read once.
struct CommandLine {
    enum class Action {
        run,        // connect to `host` and `port`
        help,       // --help
        version,    // --version, -V
        usage,      // no host or port at all
        bad_option, // `error` names the option and what is wrong with it
        no_port,    // no port, or one above 65535
    };
    Action action = Action::run;
    Options options;
    std::string error;
    std::string host = "localhost";
    int port = 0;
};

// Options come first: they are read up to the first argument that is none of
// ours ("-h", "-5" and "--timout" are host or port texts, as a bundle is unless
// every letter in it is ours) or after "--". A value follows its option or
// joins it ("--timeout=5", "-cregs"); long names match only in full. The
// first --help or --version acts at once, unless an option error came first.
// The first two arguments after the options are the host and port.
CommandLine read_command_line(int argc, char* argv[]);

} // namespace cmdclient
