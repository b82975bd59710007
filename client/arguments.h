// Reading the command line: an optional host and a port, in either order.
#pragma once

#include <optional>

namespace cmdclient {

// True when every character of `arg` is a decimal digit; the empty text counts.
bool is_numeric(const char* arg) noexcept;

// Host and port texts found on the command line; null where absent.
struct ServerArguments {
    const char* host = nullptr;
    const char* port = nullptr;
};

// Looks at the first two arguments after the program name: a numeric one is the
// port, any other the host, and the second replaces the first in the same role.
// Further arguments are ignored.
ServerArguments classify_arguments(int argc, char* const argv[]) noexcept;

// The value of a numeric port text, or nothing when it is above 65535 (however
// many digits it has). The empty text is port 0.
std::optional<int> parse_port(const char* digits) noexcept;

} // namespace cmdclient
