// The one place where Windows Sockets and BSD sockets differ. Everything else in
// the socket layer is written against the names declared here.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace net {

#ifdef _WIN32
using socket_handle = SOCKET;
inline const socket_handle invalid_socket = INVALID_SOCKET;
// Windows Sockets sends no signal on a closed connection.
constexpr int send_flags = 0;
// Error number for an address family that is not supported.
constexpr int unsupported_family_error = WSAEAFNOSUPPORT;
using io_size = int;
using address_length = int;

inline int close_socket(socket_handle handle) noexcept {
    return ::closesocket(handle);
}
// Windows keeps the socket error apart from errno.
inline int last_socket_error() noexcept {
    return ::WSAGetLastError();
}
inline bool interrupted_by_signal() noexcept {
    return false;
}
#else
using socket_handle = int;
inline const socket_handle invalid_socket = -1;
// A send on a connection the server has closed must fail, not end the process.
constexpr int send_flags = MSG_NOSIGNAL;
constexpr int unsupported_family_error = EAFNOSUPPORT;
using io_size = size_t;
using address_length = socklen_t;

inline int close_socket(socket_handle handle) noexcept {
    return ::close(handle);
}
inline int last_socket_error() noexcept {
    return errno;
}
// A signal that arrives while a call blocks ends it early; the call is simply made again.
inline bool interrupted_by_signal() noexcept {
    return errno == EINTR;
}
#endif

// Prepares the platform's socket library for use. Windows Sockets is asked for
// version 1.1; a failed start-up or any other granted version returns false
// (the library released in the latter case). Always true where no start-up exists.
bool start_socket_library() noexcept;

} // namespace net
