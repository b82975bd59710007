// How a run ends: one value travels from the exchange through the command loop
// to the entry point, which alone turns it into the exit status or a signal.
#pragma once

#include "net/wait.h"

namespace cmdclient {

enum class Outcome {
    going_on,       // the reply ended: the loop reads the next line
    cancelled,      // Ctrl-C at a terminal discarded the reply: the loop reads the next line
    ended,          // quit, terminate, the end of input or Ctrl-D: status 0
    command_failed, // a "Syntax error" reply, and the run stops at one: status 3
    failed,         // the connection, input or output failed (reported): status 1
    stopped,        // a stop signal ends the run; it stays recorded for the entry point
};

inline int exit_status(Outcome outcome) noexcept {
    if (outcome == Outcome::command_failed) {
        return 3; // apart from 1, so that a script can tell them
    }
    return outcome == Outcome::failed || outcome == Outcome::stopped ? 1 : 0;
}

// True when the recorded stop signal cancels what the user waits for (the typed
// line, the rest of a reply): Ctrl-C at a terminal, once. Any other ends the run.
inline bool stop_cancels(bool interactive, bool cancelled_already) noexcept {
    return net::pending_stop_signal() == net::interrupt_signal && interactive && !cancelled_already;
}

} // namespace cmdclient
