#pragma once

#include "client/session.h"

#include <string>

namespace cmdclient {

enum class ExchangeEnd {
    reply_ended,     // the closing "Ok" arrived
    syntax_error,    // the reply was exactly "Syntax error"
    connection_lost, // sending or receiving failed (reported)
    timed_out,       // no byte of the reply came in time (reported)
    output_failed,   // standard output could not be written
};

// One command's round trip: sends `command` once, then relays the reply to
// the console or, when `target` is not "stdout", into that file, replaced
// afresh, and leaves the next prompt. What arrived is written out whenever the
// client is about to wait, so a slow reply shows its progress on a pipe or in a
// file. A file that cannot be opened or written costs one line on standard
// error; the reply is still read to its end. A lost connection and a reply that
// times out are reported, on the console and on standard error.
ExchangeEnd exchange(Session& session, const std::string& command, const std::string& target);

} // namespace cmdclient
