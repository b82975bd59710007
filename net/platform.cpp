#include "net/platform.h"

namespace net {

bool start_socket_library() noexcept {
#ifdef _WIN32
    WSADATA data;
    if (::WSAStartup(MAKEWORD(1, 1), &data) != 0) {
        return false;
    }
    if (LOBYTE(data.wVersion) != 1 || HIBYTE(data.wVersion) != 1) {
        ::WSACleanup();
        return false;
    }
#endif
    return true;
}

} // namespace net
