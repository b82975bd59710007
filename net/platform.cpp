#include "net/platform.h"

#include <cstring>

namespace net {

std::string socket_error_text(int error) {
#ifdef _WIN32
    char text[256] = "";
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' ')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(error) : message;
#else
    return std::strerror(error);
#endif
}

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
