#include "client/server_address.h"

#include "client/texts.h"

namespace cmdclient {

ServerAddress server_address(const std::string& host, int port) {
    ServerAddress address;
    address.peer = host + " port " + std::to_string(port);
    if (const auto endpoint = net::endpoint_of(host, port)) {
        address.candidates.push_back(*endpoint);
    } else {
        // A mistyped option reads as a host text: say which it may have been.
        address.problem = "'" + host + "' " +
                          (host[0] == '-' ? texts::not_an_option : texts::names_not_looked_up);
    }
    return address;
}

} // namespace cmdclient
