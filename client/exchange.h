#pragma once

#include "client/outcome.h"
#include "client/session.h"

#include <string>

namespace cmdclient {

// One command's round trip: sends `command` once, then relays the reply to
// the console or, when `target` is not "stdout", into that file, replaced
// afresh, and leaves the next prompt. What arrived is written out whenever the
// client is about to wait, so a slow reply shows its progress on a pipe or in a
// file. A file that cannot be opened or written costs one line on standard
// error; the reply is still read to its end. A lost connection and a reply that
// times out are reported, on the console and on standard error.
//
// A stop signal is decided here: Ctrl-C at a terminal discards the rest of
// the reply (a second one ends the run); any other ends the run: `stopped`,
// with what arrived still held for the entry point to write out.
//
// With --reconnect, a connection the server ended while the client waited is
// made again before the send, and one lost during the reply after it (the
// command is never sent again; the session then goes on). With --timing, the
// reply's time goes to standard error before the next prompt.
//
// Returns going_on, cancelled (Ctrl-C at a terminal discarded the reply), or
// why the run ends: command_failed ("Syntax error", or a reply file that
// failed, when the session stops at one: the file's failure is then left for
// the caller to report), failed (reported), stopped.
Outcome exchange(Session& session, const std::string& command, const std::string& target);

} // namespace cmdclient
