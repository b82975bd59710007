// While one of these lives, a write by this thread to a pipe whose reader has
// gone fails with EPIPE instead of ending the process: SIGPIPE is blocked for
// the calling thread only, and the SIGPIPE such a write raised is taken before
// the thread's mask is restored, so it is never delivered.
#pragma once

#include <cerrno>
#include <csignal>
#include <ctime>

#include <pthread.h>
#include <signal.h>

class SigpipeBlocked {
  public:
    SigpipeBlocked() noexcept {
        sigemptyset(&pipe_signal_);
        sigaddset(&pipe_signal_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal_, &before_);
    }
    ~SigpipeBlocked() {
        const int saved_errno = errno; // the caller may still want the write's error
        const timespec no_wait{};
        while (sigtimedwait(&pipe_signal_, nullptr, &no_wait) == SIGPIPE || errno == EINTR) {
        }
        pthread_sigmask(SIG_SETMASK, &before_, nullptr);
        errno = saved_errno;
    }
    SigpipeBlocked(const SigpipeBlocked&) = delete;
    SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

  private:
    sigset_t pipe_signal_;
    sigset_t before_;
};
