#include "net/wait.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>

namespace net {

namespace {
volatile std::sig_atomic_t recorded_signal = 0;

extern "C" void record_signal(int signal) {
    recorded_signal = signal;
}

// Windows runs a console handler on a thread of its own and does not cut a
// waiting call short, so a socket wait looks for a stop signal this often.
constexpr long signal_look_microseconds = 100000;
} // namespace

const int interrupt_signal = SIGINT;

void catch_stop_signals() noexcept {
    std::signal(SIGINT, record_signal);
    std::signal(SIGTERM, record_signal);
}

int pending_stop_signal() noexcept {
    return recorded_signal;
}

int look_for_stop_signal() noexcept {
    return recorded_signal; // recorded as it comes, from the console's own thread
}

int take_stop_signal() noexcept {
    const int signal = recorded_signal;
    recorded_signal = 0;
    if (signal != 0) {
        catch_stop_signals(); // Windows resets a handler once it has run
    }
    return signal;
}

namespace detail {
void let_stop_signals_through(bool) noexcept {}
} // namespace detail

WaitResult wait_for(Waitable what, Direction direction, Deadline deadline, bool) noexcept {
    for (;;) {
        if (recorded_signal != 0) {
            return WaitResult::stop_signal;
        }
        if (what.handle >= 0 && !what.socket) {
            return WaitResult::ready; // console and file calls block by themselves
        }
        long wait = signal_look_microseconds;
        if (deadline) {
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(*deadline - Clock::now());
            wait = static_cast<long>(std::clamp<long long>(left.count(), 0, wait));
        }
        if (what.handle < 0) {
            ::Sleep(static_cast<DWORD>(wait / 1000));
        } else {
            const auto handle = static_cast<SOCKET>(what.handle);
            fd_set wanted;
            fd_set failed;
            FD_ZERO(&wanted);
            FD_ZERO(&failed);
            FD_SET(handle, &wanted);
            FD_SET(handle, &failed); // a connect that failed shows here, not as writable
            timeval timeout{0, wait};
            const int ready =
                ::select(0, direction == Direction::readable ? &wanted : nullptr,
                         direction == Direction::writable ? &wanted : nullptr, &failed, &timeout);
            if (ready != 0) {
                return ready > 0 ? WaitResult::ready : WaitResult::failed;
            }
        }
        if (deadline && Clock::now() >= *deadline) {
            return WaitResult::timed_out;
        }
    }
}

void cut_blocking_calls_short_from(Clock::time_point) noexcept {
    // No signal can cut a call short here: only the waits' deadlines bound
    // the write-out.
}

void end_by_signal(int signal) noexcept {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace net
