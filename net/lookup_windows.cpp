#include "net/lookup.h"

namespace net {

// Windows Sockets 1.1 has no getaddrinfo, and no IPv6.
bool lookup_available() noexcept {
    return false;
}

bool is_other_ipv4_form(const std::string&) noexcept {
    return false;
}

Lookup look_up(const std::string&, int, bool, Deadline) {
    Lookup result;
    result.reason = "not available in this build";
    return result;
}

} // namespace net
