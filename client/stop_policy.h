// What a stop signal (Ctrl-C, SIGTERM, SIGHUP) does to the run, and the wait
// that hears them while the client is busy with a reply.
#pragma once

#include "net/wait.h"

#include <functional>

namespace cmdclient {

enum class Waited {
    ready,     // go on with the call
    cancelled, // Ctrl-C at a terminal: what the user is waiting for is to stop
    timed_out, // the deadline passed
    failed,    // the wait itself failed (errno says why)
};

// Ctrl-C at a terminal cancels: the typed line at the prompt, the rest of the
// reply during one, and while a reply is already being discarded it ends the
// run. Any other stop signal, and Ctrl-C when input is not a terminal, ends the
// run by the signal, once what can be written without waiting is written out.
class StopPolicy {
  public:
    explicit StopPolicy(bool interactive) noexcept : interactive_(interactive) {}

    StopPolicy(const StopPolicy&) = delete;
    StopPolicy& operator=(const StopPolicy&) = delete;

    // What to write out before the run ends by a signal. It must not wait for
    // long: it is called because the user wants the run to stop.
    void before_ending(std::function<void()> write_out) { write_out_ = std::move(write_out); }

    // While true, a cancel ends the run instead (a second Ctrl-C).
    void cancel_ends_run(bool ends) noexcept { cancel_ends_run_ = ends; }

    // Waits for `what` through the one wait and acts on a stop signal that
    // comes meanwhile: returns `cancelled` (also noted for take_cancel()) or
    // never returns.
    Waited wait(net::Waitable what, net::Direction direction, net::Deadline deadline = {});

    // Acts on a stop signal recorded outside wait() (the line sources only
    // report one, so that the terminal is restored first): cancelled, or ready
    // when none was recorded; never returns when it ends the run.
    Waited act_on_recorded();

    // True once after a wait was cancelled: lets a caller that only retried
    // (an output buffer) leave the cancel to the code that owns the reply.
    bool take_cancel() noexcept {
        const bool cancelled = cancelled_;
        cancelled_ = false;
        return cancelled;
    }

    // Writes out what can be written without waiting and ends by `signal`.
    [[noreturn]] void end_run(int signal);

  private:
    Waited act_on(int signal);

    bool interactive_;
    bool cancel_ends_run_ = false;
    bool cancelled_ = false;
    bool ending_ = false;
    std::function<void()> write_out_;
};

} // namespace cmdclient
