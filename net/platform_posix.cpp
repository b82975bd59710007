#include "net/platform.h"

#include <cstring>
#include <netdb.h>

namespace net {

std::string socket_error_text(int error) {
    return std::strerror(error);
}

std::string address_text(const sockaddr* address, address_length size) {
    char host[NI_MAXHOST] = "";
    char port[NI_MAXSERV] = "";
    if (::getnameinfo(address, size, host, sizeof host, port, sizeof port,
                      NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "an address of family " + std::to_string(address->sa_family);
    }
    return std::string(host) + " port " + port;
}

bool start_socket_library() noexcept {
    return true; // BSD sockets need no start-up
}

} // namespace net
