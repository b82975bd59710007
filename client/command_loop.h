#pragma once

#include "client/line_source.h"
#include "client/outcome.h"
#include "client/session.h"

namespace cmdclient {

// The console: prompts "Ok> ", reads a line, splits off a "> file" redirection
// and hands every command other than "quit" and the empty one to the exchange,
// until the run ends: ended (quit, terminate, the end of input), or the
// exchange's outcome, or failed (input or output, reported), or stopped. Ctrl-C
// at the prompt of a terminal drops the typed line. A command that stops the
// run (command_failed) is named on standard error by its line's number. Each
// command is sent as often as -r asks, -i seconds apart.
Outcome command_loop(Session& session, LineSource& lines);

} // namespace cmdclient
