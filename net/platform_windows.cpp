#include "net/platform.h"

namespace net {

std::string socket_error_text(int error) {
    char text[256] = "";
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    std::string message(text, length);
    // Windows ends its texts with a full stop and CR LF; the client's lines add their own.
    message.erase(message.find_last_not_of("\r\n. ") + 1); // none left: npos + 1 is 0
    return message.empty() ? "error " + std::to_string(error) : message;
}

std::string address_text(const sockaddr* address, address_length size) {
    // Windows Sockets 1.1 knows IPv4 alone, and has no getnameinfo.
    if (address->sa_family != AF_INET || size < static_cast<address_length>(sizeof(sockaddr_in))) {
        return "an address of family " + std::to_string(address->sa_family);
    }
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
    return std::string(::inet_ntoa(ipv4->sin_addr)) + " port " +
           std::to_string(ntohs(ipv4->sin_port));
}

bool start_socket_library() noexcept {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(1, 1), &data) != 0) {
        return false;
    }
    if (LOBYTE(data.wVersion) != 1 || HIBYTE(data.wVersion) != 1) {
        ::WSACleanup();
        return false;
    }
    return true;
}

} // namespace net
