#pragma once

#include "client/outcome.h"
#include "client/session.h"

#include <string>

namespace cmdclient {

// One command's round trip: sends `command` once, relays the reply to the
// console or, when `target` is not "stdout", into that file (replaced), and
// leaves the next prompt. What arrived is written out before every wait. A
// reply file that fails costs one line on standard error; the reply is still
// read to its end. Ctrl-C at a terminal discards the rest of the reply (a
// second one ends the run); any other stop signal ends the run. --reconnect
// makes again a connection found ended before the send or lost in the reply
// (the command is never sent again); --timing reports the reply's time.
// Returns going_on, cancelled (the reply was discarded), or why the run ends:
// with -e, command_failed ("Syntax error", or a failed reply file, left for the
// caller to report); failed (reported); stopped (what arrived still held).
Outcome exchange(Session& session, const std::string& command, const std::string& target);

} // namespace cmdclient
