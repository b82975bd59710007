// The console's system calls that read the same on every platform.
#include "client/console_platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace cmdclient::platform {

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

} // namespace cmdclient::platform
