// Which server a run talks to: the host text converted once, at the top,
// into the addresses to try, and the words that name it in messages.
#pragma once

#include "net/address.h"

#include <string>
#include <vector>

namespace cmdclient {

struct ServerAddress {
    std::string peer;                      // "HOST port PORT", for messages
    std::vector<net::Endpoint> candidates; // tried in order until one connects
    std::string problem;                   // why there are none, for standard error
};

// "localhost" or a dotted-decimal address, never looked up by name; any other
// text gives no candidates and says why.
ServerAddress server_address(const std::string& host, int port);

} // namespace cmdclient
