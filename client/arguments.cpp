#include "client/arguments.h"

#include <cctype>
#include <cstdlib>

namespace cmdclient {

namespace {
constexpr int highest_port = 65535;
// Longer waits are no use to anyone, and every clock can count them.
constexpr double longest_wait_seconds = 1e9;
} // namespace

std::optional<double> parse_seconds(const char* text) noexcept {
    if (text == nullptr || *text == '\0' || std::isspace(static_cast<unsigned char>(*text))) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (*end != '\0' || !(value > 0) || value > longest_wait_seconds) {
        return std::nullopt; // also NaN, and "inf"
    }
    return value;
}

CommandLine parse_options(int argc, char* const argv[]) {
    CommandLine line;
    int i = 1;
    const auto value_of = [&](const char* name) -> const char* {
        if (i + 1 >= argc) {
            line.error = std::string(name) + " needs a value";
            return nullptr;
        }
        return argv[++i];
    };
    const auto seconds_of = [&](const char* name, std::optional<Seconds>& into) {
        const char* text = value_of(name);
        if (text == nullptr) {
            line.error = std::string(name) + " needs a number of seconds";
            return;
        }
        const std::optional<double> value = parse_seconds(text);
        if (!value) {
            line.error = std::string(name) + " needs a positive number of seconds, not '" + text +
                         "'";
            return;
        }
        into = Seconds{*value, text};
    };
    for (; i < argc && line.error.empty(); ++i) {
        const std::string arg = argv[i];
        if (arg == "--timeout") {
            seconds_of("--timeout", line.options.timeout);
        } else if (arg == "--connect-timeout") {
            seconds_of("--connect-timeout", line.options.connect_timeout);
        } else if (arg == "-e" || arg == "--exit-on-error") {
            line.options.exit_on_error = true;
        } else if (arg == "-q" || arg == "--quiet") {
            line.options.quiet = true;
        } else if (arg == "-c" || arg == "--command") {
            if (const char* command = value_of(arg.c_str())) {
                line.options.commands.emplace_back(command);
            }
        } else {
            break;
        }
    }
    line.first_server_argument = i;
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
