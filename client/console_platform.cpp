// The console's system calls that read the same on every platform.
#include "client/console_platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace cmdclient::platform {

const int interrupt_signal = SIGINT;

int last_error() noexcept {
    return errno;
}

bool interrupted(int error) noexcept {
    return error == EINTR;
}

bool would_block(int error) noexcept {
    return error == EAGAIN || error == EWOULDBLOCK;
}

const char* error_text(int error) noexcept {
    return std::strerror(error);
}

const char* environment(const char* name) noexcept {
    return std::getenv(name);
}

void end_by_signal(int signal) noexcept {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal); // only if the default action did not end us
}

} // namespace cmdclient::platform
