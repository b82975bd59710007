// Looking up a host name with the system's resolver, which may wait for a name
// server as long as it likes: the lookup runs where the client's one wait
// watches it, so a stop signal or a deadline leaves it behind.
#pragma once

#include "net/address.h"
#include "net/wait.h"

#include <string>
#include <vector>

namespace net {

struct Lookup {
    enum class Status {
        found,     // `addresses` holds at least one address
        failed,    // the name has no address, or the lookup cannot be made: `reason`
        again,     // the name servers failed for the moment (a later try may do): `reason`
        timed_out, // the deadline passed first
        stopped,   // a stop signal was recorded first; it stays recorded
    };
    Status status = Status::failed;
    std::vector<Endpoint> addresses; // in the order the system gives, for TCP
    std::string reason;              // the resolver's own text
};

// False where this build has no resolver (Windows Sockets 1.1).
bool lookup_available() noexcept;

// True when the system reads `host` as an IPv4 address in a form the client's
// conversion refuses ("127.1", "0x7f000001"): a bad host, never a name.
bool is_other_ipv4_form(const std::string& host) noexcept;

// Looks up `host` (a name or an IPv6 address; only an address with `numeric_only`)
// for TCP on `port`, until `deadline` at most; IPv4 and IPv6 in the system's order.
Lookup look_up(const std::string& host, int port, bool numeric_only, Deadline deadline);

} // namespace net
