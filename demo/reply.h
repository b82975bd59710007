#pragma once

#include <string>

namespace demo {

// The largest chunk the client takes in one receive.
constexpr std::size_t client_receive_size = 500;

// Turns a reply body into what goes on the wire. Every reply but "Syntax error"
// ends in "Ok". The client judges each receive of up to 500 bytes on its own, so
// the closing "Ok" must not straddle two of them: a reply whose length would put
// the 'O' last in one receive gets one more newline first.
std::string wire_reply(std::string body);

} // namespace demo
