// The one way the client blocks: every wait for a socket, a standard
// descriptor or a file goes through wait_for(), which also hears the stop
// signals and a deadline. Stop signals are only recorded here; what they mean
// is the caller's business.
#pragma once

#include "net/platform.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>

namespace net {

using Clock = std::chrono::steady_clock;
// When a wait gives up; none: it waits for as long as it takes.
using Deadline = std::optional<Clock::time_point>;

// A deadline `seconds` from now, or none when `seconds` is empty.
inline Deadline deadline_after(std::optional<double> seconds) {
    if (!seconds) {
        return std::nullopt;
    }
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*seconds));
}

// Something to wait on: a socket, or a plain descriptor (a standard stream, a file).
struct Waitable {
    std::intptr_t handle;
    bool socket;
};

inline Waitable waitable_descriptor(int fd) noexcept {
    return {fd, false};
}

// Never ready: waiting on it is a pause that still hears stop signals.
inline constexpr Waitable nothing_to_wait_on{-1, false};

enum class Direction { readable, writable };

enum class WaitResult {
    ready,       // the descriptor is ready (or has failed: the next call says how)
    stop_signal, // a stop signal was recorded; take_stop_signal() says which
    timed_out,   // the deadline passed first
    interrupted, // another signal came, and the caller asked to hear of any
    failed,      // the wait itself failed; errno (last_socket_error on Windows) says why
};

// Records the stop signals (interrupt, terminate, hang-up where there is one) rather
// than ending; where it can, holds them back but in wait_for(), so that checking
// for one and waiting are one step and no other call is cut short by them.
void catch_stop_signals() noexcept;

// The recorded stop signal, or 0; take_stop_signal() also clears it.
int pending_stop_signal() noexcept;
int take_stop_signal() noexcept;

// Records a stop signal held back while the client was busy: the recorded one, or
// 0. It may cost a system call: a loop that never waits looks now and then.
int look_for_stop_signal() noexcept;

// Waits until `what` is ready, a stop signal is recorded (before the call too) or
// `deadline` passes; other signals only with `any_signal` (the editor's resize, Ctrl-Z).
WaitResult wait_for(Waitable what, Direction direction, Deadline deadline,
                    bool any_signal = false) noexcept;

// From `deadline` on, cuts short again and again every call that blocks unwaited
// (a write to a stopped terminal), so that the last write-out keeps its bound.
// For the entry point alone, just before it ends the run.
void cut_blocking_calls_short_from(Clock::time_point deadline) noexcept;

// Ends the process by `signal`'s default action, so the parent sees the usual
// status. For the entry point alone; if it returns, exit with 128 + `signal`.
void end_by_signal(int signal) noexcept;

// The signal a person sends with Ctrl-C.
extern const int interrupt_signal;

namespace detail {
void let_stop_signals_through(bool let_through) noexcept;
}

// Runs `call` (-1 with errno on failure) with the stop signals let through, for
// a call that may block unwaited (opening a FIFO, writing to a terminal): a stop
// signal cuts it short with EINTR; one already recorded skips it (-1, EINTR).
template <typename Call> auto with_stop_signals_let_through(Call&& call) {
    using Result = decltype(call());
    detail::let_stop_signals_through(true);
    struct Restore {
        ~Restore() { detail::let_stop_signals_through(false); }
    } restore;
    if (pending_stop_signal() != 0) {
        errno = EINTR;
        return Result(-1);
    }
    return call();
}

} // namespace net
