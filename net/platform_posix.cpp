#include "net/platform.h"

#include <cstring>

namespace net {

std::string socket_error_text(int error) {
    return std::strerror(error);
}

bool start_socket_library() noexcept {
    return true; // BSD sockets need no start-up
}

} // namespace net
