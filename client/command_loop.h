#pragma once

#include "net/client_socket.h"

#include <fstream>

namespace cmdclient {

enum class LoopEnd {
    quit,            // the user typed "quit"
    input_ended,     // standard input has no more lines
    terminated,      // "terminate" was sent and its reply relayed
    connection_lost, // the server could no longer be read
};

// The console: prompts "Ok> ", reads a line, splits off a "> file" redirection
// and hands every command other than "quit" and the empty one to the server,
// until one of the LoopEnd reasons. `file` serves every redirected reply.
LoopEnd command_loop(net::ClientSocket& socket, std::ofstream& file);

} // namespace cmdclient
