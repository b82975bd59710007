#include "net/wait.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/time.h>
#include <unistd.h>

namespace net {

namespace {
// The signal handler's one way to talk to the client: by necessity a global.
volatile std::sig_atomic_t recorded_signal = 0;

extern "C" void record_signal(int signal) {
    recorded_signal = signal;
}

extern "C" void cut_short(int) {}

// Sets `handler` for `signal`, with no restart: a call that does block returns
// to be told.
void set_handler(int signal, void (*handler)(int)) noexcept {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
}

void unblock(int signal) noexcept {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
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

// Readable while a stop signal is held back; watched by every wait beside its
// own descriptor. A ppoll that finds a descriptor ready returns without
// letting in the signal it unblocked, so a loop whose waits never sleep (a
// refused connect tried again and again, an endless input) hears the signal
// only this way, at no cost to a wait. -1 where it cannot be made: a wait
// that finds its descriptor ready then asks the system.
int held_back_signals = -1;

// Takes a stop signal that is held back, if there is one, and records it.
void take_held_back_signal() noexcept {
    if (held_back_signals >= 0) {
        signalfd_siginfo taken{};
        if (::read(held_back_signals, &taken, sizeof taken) == sizeof taken) {
            recorded_signal = static_cast<int>(taken.ssi_signo);
        }
        return;
    }
    const sigset_t set = stop_signal_set();
    const timespec now{0, 0};
    const int signal = ::sigtimedwait(&set, nullptr, &now);
    if (signal > 0) {
        recorded_signal = signal;
    }
}

// The time left until `deadline` in `Unit`s, and at least `least`.
template <typename Unit> std::int64_t left_until(Clock::time_point deadline, std::int64_t least) {
    return std::max<std::int64_t>(
        least, std::chrono::duration_cast<Unit>(deadline - Clock::now()).count());
}
} // namespace

const int interrupt_signal = SIGINT;

void catch_stop_signals() noexcept {
    for (const int signal : stop_signals) {
        set_handler(signal, record_signal);
    }
    const sigset_t set = stop_signal_set();
    if (::sigprocmask(SIG_BLOCK, &set, &mask_while_waiting) == 0) {
        for (const int signal : stop_signals) {
            sigdelset(&mask_while_waiting, signal);
        }
        holding_back = true;
        if (held_back_signals < 0) {
            held_back_signals = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
        }
    }
}

int pending_stop_signal() noexcept {
    return recorded_signal;
}

int look_for_stop_signal() noexcept {
    if (recorded_signal == 0 && holding_back) {
        take_held_back_signal();
    }
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
    // A negative descriptor is passed over by ppoll: nothing to wait on, or
    // no descriptor for held-back signals.
    pollfd descriptors[] = {
        {static_cast<int>(what.handle),
         static_cast<short>(direction == Direction::readable ? POLLIN : POLLOUT), 0},
        {held_back_signals, POLLIN, 0}};
    for (;;) {
        // With the stop signals held back, one that came since the last look
        // is still pending: ppoll lets it in at once and returns EINTR, or
        // finds the held-back signal readable.
        if (recorded_signal != 0) {
            return WaitResult::stop_signal;
        }
        timespec left{};
        if (deadline) {
            const auto ns = left_until<std::chrono::nanoseconds>(*deadline, 0);
            left = {static_cast<std::time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        }
        const int ready = ::ppoll(descriptors, 2, deadline ? &left : nullptr,
                                  holding_back ? &mask_while_waiting : nullptr);
        if (ready > 0) {
            if (descriptors[1].revents != 0 || (holding_back && held_back_signals < 0)) {
                take_held_back_signal();
                if (recorded_signal != 0) {
                    return WaitResult::stop_signal;
                }
            }
            if (descriptors[0].revents != 0) {
                return WaitResult::ready;
            }
            continue;
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

void cut_blocking_calls_short_from(Clock::time_point deadline) noexcept {
    set_handler(SIGALRM, cut_short);
    unblock(SIGALRM);
    // Again and again after the deadline: a call made just as the timer went
    // off is cut short by the next time it does.
    const auto left = left_until<std::chrono::microseconds>(deadline, 1); // 0 would disarm it
    itimerval timer{};
    timer.it_interval.tv_usec = 10000;
    timer.it_value.tv_sec = static_cast<std::time_t>(left / 1000000);
    timer.it_value.tv_usec = static_cast<suseconds_t>(left % 1000000);
    ::setitimer(ITIMER_REAL, &timer, nullptr);
}

void end_by_signal(int signal) noexcept {
    std::signal(signal, SIG_DFL);
    unblock(signal);
    std::raise(signal);
}

} // namespace net
