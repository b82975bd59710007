#include "client/arguments.h"

namespace cmdclient {

namespace {
constexpr int highest_port = 65535;
}

bool is_numeric(const char* arg) noexcept {
    for (; *arg != '\0'; ++arg) {
        if (*arg < '0' || *arg > '9') {
            return false;
        }
    }
    return true;
}

ServerArguments classify_arguments(int argc, char* const argv[]) noexcept {
    ServerArguments found;
    for (int i = 1; i < argc && i <= 2; ++i) {
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
