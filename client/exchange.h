#pragma once

#include "client/outcome.h"
#include "client/session.h"

#include <string>

namespace cmdclient {

// One command's round trip: sends `command` once and relays the reply to the
// console or, when `target` is not "stdout", into that file (replaced; a failure
// costs a line on standard error, the reply still read to its end), then leaves
// the next prompt. Ctrl-C at a terminal discards the rest of the reply (a second
// ends the run), another stop signal ends it; --reconnect makes a lost connection
// again, never sending the command again. Returns going_on, cancelled, or why the
// run ends: command_failed (-e: "Syntax error" or a failed reply file, left for
// the caller to report), failed (reported) or stopped.
Outcome exchange(Session& session, const std::string& command, const std::string& target);

} // namespace cmdclient
