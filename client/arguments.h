// Reading the command line: an optional host and a port, in either order.
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

// A number of seconds given on the command line, and its text for messages.
struct Seconds {
    double value = 0;
    std::string text;
};

// What the options before the host and port ask for.
struct Options {
    std::optional<Seconds> timeout;         // --timeout: longest wait for a reply's next byte
    std::optional<Seconds> connect_timeout; // --connect-timeout
    bool exit_on_error = false;             // -e: stop at the first "Syntax error"
    bool quiet = false;                     // -q: only the replies' text on standard output
    std::vector<std::string> commands;      // -c: run these instead of reading standard input
};

// The options, and where the host and port arguments begin (argv index).
// `error`, when not empty, names the option that lacks its value or has a bad
// one. Only the options above are recognised, and only before the host and
// port: the first argument that is not one of them starts those.
struct CommandLine {
    Options options;
    int first_server_argument = 1;
    std::string error;
};

CommandLine parse_options(int argc, char* const argv[]);

// A positive, finite number of seconds (a fraction is allowed), or nothing.
std::optional<double> parse_seconds(const char* text) noexcept;

} // namespace cmdclient
