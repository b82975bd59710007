#pragma once

#include <string>

namespace demo {

// Turns a reply body into what goes on the wire: "Syntax error" as it is, any
// other body followed by the closing "Ok", sent as one piece with nothing after it.
std::string wire_reply(std::string body);

} // namespace demo
