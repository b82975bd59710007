// Which server a run talks to: the host text converted once, at the top,
// into the addresses to try, and the words that name it in messages.
#pragma once

#include "client/arguments.h"
#include "net/address.h"
#include "net/wait.h"

#include <string>
#include <vector>

namespace cmdclient {

struct ServerAddress {
    std::string peer;                      // "HOST port PORT", for messages
    std::vector<net::Endpoint> candidates; // tried in order until one connects
    std::string problem;                   // why there are none, for standard error
    // Looked up: messages name each address itself ("::1 port 5000").
    bool named_by_address = false;
    bool again = false;   // the lookup failed for the moment: a later try may do
    bool stopped = false; // a stop signal ended the lookup; it stays recorded
};

// The options' host and port. Without a lookup: "localhost" or a dotted-decimal
// address, any other text giving no candidates and saying why. With one: digits
// and dots are still only converted; a name ("localhost" too) or an IPv6
// address ("::1", "fe80::1%eth0", "[::1]") is looked up by `deadline`, keeping
// only the addresses of the family asked for.
ServerAddress server_address(const Options& options, net::Deadline deadline = {});

} // namespace cmdclient
