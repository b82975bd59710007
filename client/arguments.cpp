#include "client/arguments.h"

#include "client/platform/files.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace cmdclient {

namespace {
constexpr int highest_port = 65535;
// Longer waits are no use to anyone, and every clock can count them.
constexpr double longest_wait_seconds = 1e9;
constexpr int help_column = 29;

// To add an option: one row here (its kind says how its value is read,
// checked, named in messages and completed), its field in Options, and a
// check below if it needs or excludes another. --help and the shell
// completions are made from this table.
const std::vector<OptionRow> table = {
    {"timeout", 0, Kind::seconds, &Options::timeout, "SECONDS",
     "give up when a reply pauses this long (exit 1)"},
    {"connect-timeout", 0, Kind::seconds, &Options::connect_timeout, "SECONDS",
     "give up connecting after this long (exit 1)"},
    {"exit-on-error", 'e', Kind::flag, &Options::exit_on_error, nullptr,
     "stop at the first \"Syntax error\" reply or lost\n"
     "redirected reply, naming its line (exit 3)"},
    {"quiet", 'q', Kind::flag, &Options::quiet, nullptr,
     "standard output gets the replies' text alone"},
    {"command", 'c', Kind::text, &Options::commands, "COMMAND",
     "run COMMAND instead of reading standard input\n(may be given more than once)"},
    {"lookup", 0, Kind::flag, &Options::lookup, nullptr,
     "look up a host name, or take an IPv6 address;\nevery address found is tried in turn"},
    {nullptr, '4', Kind::flag, &Options::lookup, nullptr,
     "as --lookup, trying only IPv4 or only IPv6"},
    {nullptr, '6', Kind::flag, &Options::lookup, nullptr, ""},
    {"retry", 0, Kind::count, &Options::retries, "N",
     "try connecting N more times while it fails for\nthe moment (refused, unreachable, timed "
     "out);\ngive --connect-timeout too, or a silent host\ntakes about 2 minutes each time",
     1000000, "attempts"},
    {"retry-delay", 0, Kind::seconds_or_zero, &Options::retry_delay, "SECONDS",
     "the wait between those tries (default 1)"},
    {"log-file", 'L', Kind::file, &Options::log_file, "FILE",
     "append the session to FILE as a terminal shows it"},
    {"timestamps", 't', Kind::flag, &Options::timestamps, nullptr,
     "start each line of the log with the local time"},
    {"echo", 0, Kind::flag, &Options::echo, nullptr,
     "show lines not typed at a terminal after their prompt"},
    {"file", 'f', Kind::file, &Options::files, "FILE",
     "run the commands in FILE (-: standard input); may\n"
     "be given more than once, in order with -c"},
    {"reconnect", 0, Kind::flag, &Options::reconnect, nullptr,
     "connect again when the connection is lost; a\ncommand whose reply was cut is not sent again"},
    {"repeat", 'r', Kind::count, &Options::repeat, "COUNT",
     "send each command COUNT times (0: until stopped)", 1000000000, "repetitions"},
    {"interval", 'i', Kind::seconds_or_zero, &Options::interval, "SECONDS",
     "the pause between those repetitions (with -r)"},
    {"timing", 0, Kind::flag, &Options::timing, nullptr, "each reply's time on standard error"},
    {"help", 0, Kind::flag, &Options::help, nullptr, nullptr},
    {"version", 'V', Kind::flag, &Options::version, nullptr, nullptr},
};

// The checks between options, each naming two options as typed.
// One that excludes another fails as soon as both are given; one that needs
// another, once all options are read (so that "-t -L FILE" works).
struct Check {
    const char* option;
    bool needs; // or excludes
    const char* other;
    const char* error;
};
const Check checks[] = {
    {"-4", false, "-6", "-4 and -6 cannot be given together"},
    {"--retry-delay", true, "--retry", "--retry-delay needs --retry"},
    {"-t", true, "-L", "-t needs -L FILE"},
    {"-i", true, "-r", "-i needs -r COUNT"},
};

// The row of the long name `name`, or of `letter`; null if none.
const OptionRow* find(std::string_view name, char letter = 0) {
    const auto found = std::find_if(table.begin(), table.end(), [&](const OptionRow& row) {
        return letter != 0 ? letter == row.letter : row.name != nullptr && name == row.name;
    });
    return found == table.end() ? nullptr : &*found;
}

// The row of an option as typed: "--retry", "-t".
const OptionRow& row_of(std::string_view typed) {
    return typed[1] == '-' ? *find(typed.substr(2)) : *find({}, typed[1]);
}

// True when `arg` is one of our options, a bundle of our letters or "--":
// anything else keeps its meaning as a host or port text.
bool is_ours(std::string_view arg) {
    if (arg == "--") {
        return true;
    }
    if (arg.size() > 2 && arg.substr(0, 2) == "--") {
        return find(arg.substr(2, arg.find('=') - 2)) != nullptr;
    }
    if (arg.size() < 2 || arg[0] != '-') {
        return false;
    }
    for (std::size_t i = 1; i < arg.size(); ++i) {
        const OptionRow* row = find({}, arg[i]);
        if (row == nullptr || row->kind != Kind::flag) {
            return row != nullptr; // the rest is its value
        }
    }
    return true;
}

// A whole number from 0 to `most` in decimal digits (the empty text is 0), or nothing.
std::optional<int> parse_count(const char* text, int most) noexcept {
    int value = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return std::nullopt;
        }
        value = value * 10 + (*text - '0');
        if (value > most) { // checked at every digit: no length of text overflows
            return std::nullopt;
        }
    }
    return value;
}

// What a value of `row` must be, for messages: "a number of seconds", or
// more `exactly`, for a bad one: "a positive number of seconds".
std::string wanted(const OptionRow& row, bool exactly = false) {
    switch (row.kind) {
    case Kind::seconds:
        return exactly ? "a positive number of seconds" : "a number of seconds";
    case Kind::seconds_or_zero:
        return exactly ? "a number of seconds, 0 or more" : "a number of seconds";
    case Kind::count:
        return exactly ? "a whole number from 0 to " + std::to_string(row.most)
                       : std::string("a number of ") + row.unit;
    case Kind::file:
        return "a file name";
    default:
        return "a value";
    }
}

// A value read, stored into a field of each type.
struct Value {
    std::string text;     // as given, a file name expanded; a flag's name as typed
    std::size_t commands; // -c commands before it
    double seconds = 0;
    int count = 0;

    void into(bool& field) const { field = true; }
    void into(int& field) const { field = count; }
    void into(Seconds& field) const { field = {seconds, text}; }
    void into(std::optional<Seconds>& field) const { field = Seconds{seconds, text}; }
    void into(std::optional<std::string>& field) const { field = text; }
    void into(std::vector<std::string>& field) const { field.push_back(text); }
    void into(std::vector<CommandFile>& field) const { field.push_back({commands, text}); }
};

// Reads one option's value into `options`: empty, or what is wrong with it.
std::string store(Options& options, const OptionRow& row, const std::string& typed,
                  const char* value) {
    Value read{typed, options.commands.size()};
    if (row.kind == Kind::seconds || row.kind == Kind::seconds_or_zero) {
        read.seconds = parse_seconds(value, row.kind == Kind::seconds_or_zero).value_or(-1);
    } else if (row.kind == Kind::count) {
        read.count = *value != '\0' ? parse_count(value, row.most).value_or(-1) : -1;
    }
    if (read.seconds < 0 || read.count < 0) {
        return typed + " needs " + wanted(row, true) + ", not '" + value + "'";
    }
    if (row.kind != Kind::flag) {
        read.text = row.kind == Kind::file ? platform::expand_home(value) : value;
    }
    std::visit([&](auto field) { read.into(options.*field); }, row.field);
    return {};
}
} // namespace

std::optional<double> parse_seconds(const char* text, bool zero_too) noexcept {
    if (*text == '\0' || std::isspace(static_cast<unsigned char>(*text))) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (*end != '\0' || !(value > 0 || (zero_too && value == 0)) || value > longest_wait_seconds) {
        return std::nullopt; // also NaN, and "inf"
    }
    return value;
}

Family Options::family() const {
    for (const std::string& typed : lookup) {
        if (typed != "--lookup") {
            return typed == "-4" ? Family::ipv4 : Family::ipv6;
        }
    }
    return Family::any;
}

const std::vector<OptionRow>& option_table() {
    return table;
}

std::string options_help() {
    std::string list;
    for (auto row = table.begin(); row != table.end(); ++row) {
        if (row->help == nullptr || *row->help == '\0') {
            continue;
        }
        std::string line = "  ";
        if (row->letter != 0) {
            line += std::string("-") + row->letter + (row->name != nullptr ? ", " : "");
        }
        for (auto beside = row + 1;
             beside != table.end() && beside->help != nullptr && *beside->help == '\0'; ++beside) {
            line += std::string(", -") + beside->letter;
        }
        if (row->name != nullptr) {
            line += std::string("--") + row->name;
        }
        if (row->value_name != nullptr) {
            line += std::string(" ") + row->value_name;
        }
        line.resize(help_column, ' ');
        for (const char c : std::string_view(row->help)) { // each line in the same column
            line += c == '\n' ? "\n" + std::string(help_column, ' ') : std::string(1, c);
        }
        list += line + "\n";
    }
    return list;
}

CommandLine read_command_line(int argc, char* argv[]) {
    using Action = CommandLine::Action;
    CommandLine line;
    const auto fail = [&](std::string error) {
        line.action = Action::bad_option;
        line.error = std::move(error);
        return line;
    };
    std::vector<bool> given(table.size());
    const auto is_given = [&](const char* typed) { return given[&row_of(typed) - table.data()]; };
    std::vector<char*> operands;
    std::string took; // the last value of digits that followed its option: "-c took '5000'"
    bool ended = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (ended || !is_ours(arg)) {
            operands.push_back(argv[i]);
            continue;
        }
        if (arg == "--") {
            ended = true;
            continue;
        }
        const bool is_long = arg[1] == '-';
        // One long option, or each letter of a bundle up to one that takes a value.
        for (std::size_t at = 1; at < arg.size(); ++at) {
            const std::size_t equals = arg.find('=');
            const std::string typed =
                is_long ? std::string(arg.substr(0, equals)) : std::string("-") + arg[at];
            const OptionRow& row = row_of(typed);
            const char* value = nullptr;
            if (row.kind == Kind::flag) {
                if (is_long && equals != std::string_view::npos) {
                    return fail(typed + " takes no value");
                }
            } else if (is_long ? equals != std::string_view::npos : at + 1 < arg.size()) {
                value = argv[i] + (is_long ? equals + 1 : at + 1);
            } else if (i + 1 >= argc) {
                return fail(typed + " needs " + (row.kind == Kind::file ? "a value" : wanted(row)));
            } else {
                value = argv[++i];
                if (row.kind != Kind::text && is_ours(value)) {
                    return fail(typed + " needs " + wanted(row) + ", not the option '" + value +
                                "'");
                }
                took = *value != '\0' && is_numeric(value) ? typed + " took '" + value + "'" : "";
            }
            if (std::string error = store(line.options, row, typed, value); !error.empty()) {
                return fail(error);
            }
            given[&row - table.data()] = true;
            for (const Check& check : checks) {
                if (!check.needs && is_given(check.option) && is_given(check.other)) {
                    return fail(check.error);
                }
            }
            if (line.options.help || line.options.version) {
                line.action = line.options.version ? Action::version : Action::help;
                return line;
            }
            if (is_long || value != nullptr) {
                break;
            }
        }
    }
    for (const Check& check : checks) {
        if (check.needs && is_given(check.option) && !is_given(check.other)) {
            return fail(check.error);
        }
    }
    const ServerArguments arguments =
        classify_arguments(static_cast<int>(operands.size()), operands.data(), 0);
    const std::optional<int> port =
        arguments.port != nullptr ? parse_port(arguments.port) : std::nullopt;
    if (!port) {
        line.action = operands.empty() ? Action::usage : Action::no_port;
        line.error = took.empty() ? "" : took + " as its value; the port is missing";
        return line;
    }
    line.options.port = *port;
    if (arguments.host != nullptr) {
        line.options.host = arguments.host;
    }
    return line;
}

bool is_numeric(const char* arg) noexcept {
    return std::all_of(arg, arg + std::strlen(arg), [](char c) { return c >= '0' && c <= '9'; });
}

ServerArguments classify_arguments(int argc, char* const argv[], int first) noexcept {
    ServerArguments found;
    for (int i = first; i < argc && i < first + 2; ++i) {
        (is_numeric(argv[i]) ? found.port : found.host) = argv[i];
    }
    return found;
}

std::optional<int> parse_port(const char* digits) noexcept {
    return parse_count(digits, highest_port);
}

} // namespace cmdclient
