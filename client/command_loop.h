#pragma once

#include "client/line_source.h"
#include "client/outcome.h"
#include "client/session.h"

namespace cmdclient {

// The console: prompts "Ok> ", reads a line, splits off a "> file" redirection
// and hands every command but "quit" and the empty one to the exchange, -r
// times, -i seconds apart, until the run ends: ended (quit, terminate, the end
// of input), the exchange's outcome, failed (reported) or stopped. Ctrl-C at
// a terminal's prompt drops the typed line. A command that stops the run
// (command_failed) is named on standard error by its line's number.
Outcome command_loop(Session& session, LineSource& lines);

} // namespace cmdclient
