#include "client/arguments.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <string_view>

namespace cmdclient {

namespace {
constexpr int highest_port = 65535;
// Longer waits are no use to anyone, and every clock can count them.
constexpr double longest_wait_seconds = 1e9;
constexpr int most_retries = 1000000;
constexpr int most_repeats = 1000000000;

// Codes of the options that have no letter.
enum : int {
    timeout_option = 256,
    connect_timeout_option,
    help_option,
    lookup_option,
    retry_option,
    retry_delay_option,
    echo_option,
    reconnect_option,
    timing_option,
};

// The letters after one that takes a value, in a bundle, are its value.
constexpr const char* letters = "ceqV46Ltrif";
constexpr const char* takes_value = "cLrif";
const option long_options[] = {
    {"timeout", required_argument, nullptr, timeout_option},
    {"connect-timeout", required_argument, nullptr, connect_timeout_option},
    {"lookup", no_argument, nullptr, lookup_option},
    {"retry", required_argument, nullptr, retry_option},
    {"retry-delay", required_argument, nullptr, retry_delay_option},
    {"exit-on-error", no_argument, nullptr, 'e'},
    {"quiet", no_argument, nullptr, 'q'},
    {"command", required_argument, nullptr, 'c'},
    {"help", no_argument, nullptr, help_option},
    {"version", no_argument, nullptr, 'V'},
    {"log-file", required_argument, nullptr, 'L'},
    {"timestamps", no_argument, nullptr, 't'},
    {"echo", no_argument, nullptr, echo_option},
    {"reconnect", no_argument, nullptr, reconnect_option},
    {"repeat", required_argument, nullptr, 'r'},
    {"interval", required_argument, nullptr, 'i'},
    {"timing", no_argument, nullptr, timing_option},
    {"file", required_argument, nullptr, 'f'},
    {nullptr, 0, nullptr, 0},
};

// True when `arg` is one of our options, a bundle of our letters or "--":
// anything else keeps its meaning as a host or port text.
bool is_ours(std::string_view arg) {
    if (arg == "--") {
        return true;
    }
    if (arg.size() > 2 && arg.substr(0, 2) == "--") {
        const std::string_view name = arg.substr(2, arg.find('=') - 2);
        for (const option* known = long_options; known->name != nullptr; ++known) {
            if (name == known->name) {
                return true;
            }
        }
        return false;
    }
    if (arg.size() < 2 || arg[0] != '-') {
        return false;
    }
    for (const char letter : arg.substr(1)) {
        if (std::strchr(letters, letter) == nullptr) {
            return false;
        }
        if (std::strchr(takes_value, letter) != nullptr) {
            break;
        }
    }
    return true;
}

// The option `arg` as it was typed, for messages: "--command", "-c".
std::string typed_name(const char* arg, int letter) {
    if (std::strncmp(arg, "--", 2) == 0) {
        return std::string(arg, std::strcspn(arg, "="));
    }
    return std::string("-") + static_cast<char>(letter);
}

// A whole number from 0 to `most` in decimal digits, or nothing.
std::optional<int> parse_count(const char* text, int most) noexcept {
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
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
} // namespace

std::optional<double> parse_seconds(const char* text, bool zero_too) noexcept {
    if (text == nullptr || *text == '\0' || std::isspace(static_cast<unsigned char>(*text))) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (*end != '\0' || !(value > 0 || (zero_too && value == 0)) || value > longest_wait_seconds) {
        return std::nullopt; // also NaN, and "inf"
    }
    return value;
}

CommandLine read_command_line(int argc, char* argv[]) {
    using Action = CommandLine::Action;
    CommandLine line;
    if (argc < 2) {
        line.action = Action::usage;
        return line;
    }
    const auto fail = [&](std::string error) {
        line.action = Action::bad_option;
        line.error = std::move(error);
        return line;
    };
    optind = 0; // a fresh start, also for a second command line in one process
    opterr = 0;
    int checked = 0; // the last argument found to be ours
    bool retry_given = false;
    bool retry_delay_given = false;
    bool repeat_given = false;
    bool interval_given = false;
    for (;;) {
        const int next = optind == 0 ? 1 : optind;
        if (next != checked) {
            if (next >= argc || !is_ours(argv[next])) {
                optind = next;
                break;
            }
            checked = next;
        }
        const int code = getopt_long(argc, argv, "+:c:eqV46L:tr:i:f:", long_options, nullptr);
        if (code == -1) {
            break;
        }
        switch (code) {
        case 'c':
            line.options.commands.emplace_back(optarg);
            break;
        case 'e':
            line.options.exit_on_error = true;
            break;
        case 'q':
            line.options.quiet = true;
            break;
        case 'L':
            line.options.log_file = optarg;
            break;
        case 't':
            line.options.timestamps = true;
            break;
        case echo_option:
            line.options.echo = true;
            break;
        case 'f':
            line.options.files.push_back({line.options.commands.size(), optarg});
            break;
        case reconnect_option:
            line.options.reconnect = true;
            break;
        case timing_option:
            line.options.timing = true;
            break;
        case 'r': {
            const std::optional<int> count = parse_count(optarg, most_repeats);
            if (!count) {
                return fail(std::string("-r needs a whole number from 0 to 1000000000, not '") +
                            optarg + "'");
            }
            line.options.repeat = *count;
            repeat_given = true;
            break;
        }
        case 'i': {
            const std::optional<double> value = parse_seconds(optarg, true);
            if (!value) {
                return fail(std::string("-i needs a number of seconds, 0 or more, not '") +
                            optarg + "'");
            }
            line.options.interval = Seconds{*value, optarg};
            interval_given = true;
            break;
        }
        case 'V':
            line.action = Action::version;
            return line;
        case help_option:
            line.action = Action::help;
            return line;
        case lookup_option:
        case '4':
        case '6': {
            if (line.options.lookup_option.empty()) {
                line.options.lookup_option = code == lookup_option ? "--lookup"
                                             : code == '4'         ? "-4"
                                                                   : "-6";
            }
            line.options.lookup = true;
            const Family family = code == '4'   ? Family::ipv4
                                  : code == '6' ? Family::ipv6
                                                : Family::any;
            if (family != Family::any && line.options.family != Family::any &&
                family != line.options.family) {
                return fail("-4 and -6 cannot be given together");
            }
            if (family != Family::any) {
                line.options.family = family;
            }
            break;
        }
        case retry_option: {
            const std::optional<int> count = parse_count(optarg, most_retries);
            if (!count) {
                return fail(std::string("--retry needs a whole number from 0 to 1000000, not '") +
                            optarg + "'");
            }
            line.options.retries = *count;
            retry_given = true;
            break;
        }
        case retry_delay_option: {
            const std::optional<double> value = parse_seconds(optarg, true);
            if (!value) {
                return fail(
                    std::string("--retry-delay needs a number of seconds, 0 or more, not '") +
                    optarg + "'");
            }
            line.options.retry_delay = Seconds{*value, optarg};
            retry_delay_given = true;
            break;
        }
        case timeout_option:
        case connect_timeout_option: {
            const std::optional<double> value = parse_seconds(optarg);
            if (!value) {
                const char* name = code == timeout_option ? "--timeout" : "--connect-timeout";
                return fail(name + std::string(" needs a positive number of seconds, not '") + optarg + "'");
            }
            (code == timeout_option ? line.options.timeout : line.options.connect_timeout) =
                Seconds{*value, optarg};
            break;
        }
        default: { // a missing value, or one given to an option that takes none
            const std::string name = typed_name(argv[optind - 1], optopt);
            if (optopt == 'c' || optopt == 'L' || optopt == 'f') {
                return fail(name + " needs a value");
            }
            if (optopt == 'r') {
                return fail(name + " needs a number of repetitions");
            }
            if (optopt == timeout_option || optopt == connect_timeout_option ||
                optopt == retry_delay_option || optopt == 'i') {
                return fail(name + " needs a number of seconds");
            }
            if (optopt == retry_option) {
                return fail(name + " needs a number of attempts");
            }
            return fail(name + " takes no value");
        }
        }
    }
    if (retry_delay_given && !retry_given) {
        return fail("--retry-delay needs --retry");
    }
    if (interval_given && !repeat_given) {
        return fail("-i needs -r COUNT");
    }
    // Checked after all options, so that "-t -L FILE" works.
    if (line.options.timestamps && !line.options.log_file) {
        return fail("-t needs -L FILE");
    }
    if (optind >= argc) {
        line.action = Action::usage;
        return line;
    }
    const ServerArguments arguments = classify_arguments(argc, argv, optind);
    const std::optional<int> port =
        arguments.port != nullptr ? parse_port(arguments.port) : std::nullopt;
    if (!port) {
        line.action = Action::no_port;
        return line;
    }
    line.port = *port;
    if (arguments.host != nullptr) {
        line.host = arguments.host;
    }
    return line;
}

bool is_numeric(const char* arg) noexcept {
    for (; *arg != '\0'; ++arg) {
        if (*arg < '0' || *arg > '9') {
            return false;
        }
    }
    return true;
}

ServerArguments classify_arguments(int argc, char* const argv[], int first) noexcept {
    ServerArguments found;
    for (int i = first; i < argc && i < first + 2; ++i) {
        (is_numeric(argv[i]) ? found.port : found.host) = argv[i];
    }
    return found;
}

std::optional<int> parse_port(const char* digits) noexcept {
    int value = 0;
    for (; *digits != '\0'; ++digits) {
        if (*digits < '0' || *digits > '9') {
            return std::nullopt;
        }
        value = value * 10 + (*digits - '0');
        // Checked at every digit, so no length of text can overflow.
        if (value > highest_port) {
            return std::nullopt;
        }
    }
    return value;
}

} // namespace cmdclient
