#include "net/wait.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <poll.h>

namespace net {

namespace {
// The signal handler's one way to talk to the client: by necessity a global.
volatile std::sig_atomic_t recorded_signal = 0;

extern "C" void record_signal(int signal) {
    recorded_signal = signal;
}

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t stop_signal_set() noexcept {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : stop_signals) {
        sigaddset(&set, signal);
    }
    return set;
}

// The mask the process had before the stop signals were held back: what the
// waits let through.
sigset_t mask_while_waiting;
bool holding_back = false;

timespec remaining(const Deadline& deadline) noexcept {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(*deadline - Clock::now());
    if (left.count() <= 0) {
        return {0, 0};
    }
    return {static_cast<std::time_t>(left.count() / 1000000000),
            static_cast<long>(left.count() % 1000000000)};
}
} // namespace

const int interrupt_signal = SIGINT;

void catch_stop_signals() noexcept {
    struct sigaction action {};
    action.sa_handler = record_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a call that does block returns to be told
    for (const int signal : stop_signals) {
        ::sigaction(signal, &action, nullptr);
    }
    const sigset_t set = stop_signal_set();
    if (::sigprocmask(SIG_BLOCK, &set, &mask_while_waiting) == 0) {
        sigdelset(&mask_while_waiting, SIGINT);
        sigdelset(&mask_while_waiting, SIGTERM);
        sigdelset(&mask_while_waiting, SIGHUP);
        holding_back = true;
    }
}

int pending_stop_signal() noexcept {
    return recorded_signal;
}

int take_stop_signal() noexcept {
    const int signal = recorded_signal;
    recorded_signal = 0;
    return signal;
}

namespace detail {
void let_stop_signals_through(bool let_through) noexcept {
    if (holding_back) {
        const sigset_t set = stop_signal_set();
        ::sigprocmask(let_through ? SIG_UNBLOCK : SIG_BLOCK, &set, nullptr);
    }
}
} // namespace detail

WaitResult wait_for(Waitable what, Direction direction, Deadline deadline,
                    bool any_signal) noexcept {
    pollfd descriptor{static_cast<int>(what.handle),
                      static_cast<short>(direction == Direction::readable ? POLLIN : POLLOUT), 0};
    for (;;) {
        // With the stop signals held back, one that came since the last look
        // is still pending: ppoll lets it in at once and returns EINTR.
        if (recorded_signal != 0) {
            return WaitResult::stop_signal;
        }
        timespec left{};
        if (deadline) {
            left = remaining(deadline);
        }
        const int ready = ::ppoll(&descriptor, what.handle < 0 ? 0 : 1, deadline ? &left : nullptr,
                                  holding_back ? &mask_while_waiting : nullptr);
        if (ready > 0) {
            return WaitResult::ready;
        }
        if (ready == 0) {
            return WaitResult::timed_out;
        }
        if (errno != EINTR) {
            return WaitResult::failed;
        }
        if (any_signal && recorded_signal == 0) {
            return WaitResult::interrupted;
        }
    }
}

void end_by_signal(int signal) noexcept {
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(signal);
}

} // namespace net
