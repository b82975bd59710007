#pragma once

#include "client/line_source.h"
#include "client/session.h"

namespace cmdclient {

enum class LoopEnd {
    quit,            // the user typed "quit"
    input_ended,     // standard input has no more lines
    terminated,      // "terminate" was sent and its reply relayed
    connection_lost, // the server could no longer be reached (reported)
    timed_out,       // a reply did not come in time (reported)
    input_failed,    // standard input could not be read (reported)
    output_failed,   // standard output could not be written (reported)
    command_failed,  // a reply was "Syntax error" and the session stops at one
};

// The console: prompts "Ok> ", reads a line, splits off a "> file" redirection
// and hands every command other than "quit" and the empty one to the exchange,
// until one of the LoopEnd reasons.
LoopEnd command_loop(Session& session, LineSource& lines);

} // namespace cmdclient
