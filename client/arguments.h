// Reading the command line: our options anywhere on it, and an optional host
// and a port, in either order. Every option is one row of one table.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace cmdclient {

// True when every character of `arg` is a decimal digit; the empty text counts.
bool is_numeric(const char* arg) noexcept;

// Host and port texts found on the command line; null where absent.
struct ServerArguments {
    const char* host = nullptr;
    const char* port = nullptr;
};

// Of the first two arguments from `first` on, a numeric one is the port, any
// other the host; the second replaces the first in the same role.
ServerArguments classify_arguments(int argc, char* const argv[], int first = 1) noexcept;

// The value of a numeric port text (the empty text is 0), or nothing above 65535.
std::optional<int> parse_port(const char* digits) noexcept;

// A positive, finite number of seconds (a fraction is allowed), or nothing;
// with `zero_too`, 0 as well.
std::optional<double> parse_seconds(const char* text, bool zero_too = false) noexcept;

// A number of seconds given on the command line, and its text for messages.
struct Seconds {
    double value = 0;
    std::string text;
};

inline std::optional<double> value_of(const std::optional<Seconds>& seconds) {
    return seconds ? std::optional<double>(seconds->value) : std::nullopt;
}

// Which addresses of a looked-up host are tried.
enum class Family { any, ipv4, ipv6 };

// A -f file of commands ("~/" expanded; "-" is standard input), read after the
// first `after_commands` -c commands, so that -c and -f run in the order given.
struct CommandFile {
    std::size_t after_commands = 0;
    std::string name;
};

// What the run is asked to do: read once, then read-only for the whole run.
struct Options {
    std::string host = "localhost";
    int port = 0;
    std::optional<Seconds> timeout;         // --timeout: longest wait for a reply's next byte
    std::optional<Seconds> connect_timeout; // --connect-timeout
    bool exit_on_error = false;             // -e: stop at the first "Syntax error"
    bool quiet = false;                     // -q: only the replies' text on standard output
    std::vector<std::string> commands;      // -c: run these instead of reading standard input
    // --lookup, -4, -6 as typed, in order: the host may be a name or an IPv6
    // address; the first names them in messages.
    std::vector<std::string> lookup;
    int retries = 0;                     // --retry: connect attempts after the first
    Seconds retry_delay{1, "1"};         // --retry-delay: the pause between attempts
    std::optional<std::string> log_file; // -L: append the session to this file
    bool timestamps = false;             // -t: each line of the log stamped with the time
    bool echo = false;                   // --echo: lines not typed are shown after their prompt
    std::vector<CommandFile> files;      // -f: files of commands, among the -c ones
    bool reconnect = false;              // --reconnect: a lost connection is made again
    int repeat = 1;                      // -r: each command is sent this often; 0: until stopped
    Seconds interval;                    // -i: the pause between repetitions of one line
    bool timing = false;                 // --timing: each reply's time on standard error
    bool help = false;                   // --help
    bool version = false;                // --version, -V

    // -4 or -6 keeps only that family's addresses.
    Family family() const;
};

// The kinds of value an option takes; each is read, checked and completed one way.
enum class Kind {
    flag,            // none
    seconds,         // a positive number of seconds
    seconds_or_zero, // a number of seconds, 0 allowed
    count,           // a whole number from 0 to the row's `most`
    text,            // any text, one of our options too
    file,            // a file name: a leading "~/" is the home folder
};

// One option. A flag sets its bool, or adds its name as typed to a list; a
// value is stored in its field, or added to it when the field is a list.
struct OptionRow {
    using Field =
        std::variant<bool Options::*, int Options::*, Seconds Options::*,
                     std::optional<Seconds> Options::*, std::optional<std::string> Options::*,
                     std::vector<std::string> Options::*, std::vector<CommandFile> Options::*>;
    const char* name; // the long name, without "--"; null when it has none
    char letter;      // 0 when it has none
    Kind kind;
    Field field;
    const char* value_name; // the value in --help: "SECONDS"
    // --help's text, a line each: null leaves the row out of the list, and
    // the empty text shows it beside the row before ("-4, -6").
    const char* help;
    int most = 0;          // count: the largest value
    const char* unit = ""; // count: what it counts ("attempts")
};

// Every option, in --help's order.
const std::vector<OptionRow>& option_table();

// The option list of --help, from the table.
std::string options_help();

// What the command line asks for.
struct CommandLine {
    enum class Action {
        run,        // connect to the options' host and port
        help,       // --help
        version,    // --version, -V
        usage,      // no host or port at all
        bad_option, // `error` names the option and what is wrong with it
        no_port,    // no port, or one above 65535
    };
    Action action = Action::run;
    Options options;
    // bad_option: the error; usage and no_port: an option that took the
    // port as its value, when one did.
    std::string error;
};

// An argument anywhere that is one of ours ("--timeout", "--timeout=5", a
// bundle of our letters: "-qe", "-cregs") is an option, a long name only in
// full; after "--" none is. Any other ("-h", "-5", "--timout") is an operand:
// the first two are the host and port. A value joins its option or follows
// it, and one that follows is none of ours, unless any text will do. The
// first --help or --version acts at once, unless an option error came first.
CommandLine read_command_line(int argc, char* argv[]);

} // namespace cmdclient
