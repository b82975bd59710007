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
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
#endif

#include <string>

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
// Windows Sockets 1.1 has no per-call "don't wait" flag: ask how much is queued
// first, and report a would-be wait as -1 with would_block() true.
inline long receive_without_waiting(socket_handle handle, char* buffer, int size) noexcept {
    u_long queued = 0;
    if (::ioctlsocket(handle, FIONREAD, &queued) != 0) {
        return -1;
    }
    if (queued == 0) {
        ::WSASetLastError(WSAEWOULDBLOCK);
        return -1;
    }
    return ::recv(handle, buffer, size, 0);
}
inline bool would_block() noexcept {
    return ::WSAGetLastError() == WSAEWOULDBLOCK;
}
// A Windows connect is not cut short by signals.
inline bool finish_interrupted_connect(socket_handle) noexcept {
    return false;
}
// Windows Sockets 1.1 offers keepalive only with the system's own timings.
inline void keep_alive(socket_handle handle) noexcept {
    const BOOL on = TRUE;
    ::setsockopt(handle, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
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
// One receive that returns at once: -1 with would_block() true when nothing has
// arrived, so the caller can write out its output before it waits.
inline long receive_without_waiting(socket_handle handle, char* buffer, io_size size) noexcept {
    return static_cast<long>(::recv(handle, buffer, size, MSG_DONTWAIT));
}
inline bool would_block() noexcept {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}
// A connect cut short by a signal goes on in the background; waits for its
// outcome. True when it connected; false, with errno set, when it failed.
inline bool finish_interrupted_connect(socket_handle handle) noexcept {
    pollfd connecting{handle, POLLOUT, 0};
    while (::poll(&connecting, 1, -1) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return false;
    }
    errno = error;
    return error == 0;
}
// Probe an idle connection so that a server host that vanished (power cut,
// cable pulled) is noticed: 60 s idle, then 6 probes 10 s apart. A live server
// answers probes itself, however long its reply takes, so it is never cut off.
constexpr int keepalive_idle_seconds = 60;
constexpr int keepalive_interval_seconds = 10;
constexpr int keepalive_probes = 6;
inline void keep_alive(socket_handle handle) noexcept {
    const int on = 1;
    ::setsockopt(handle, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
#ifdef TCP_KEEPIDLE
    ::setsockopt(handle, IPPROTO_TCP, TCP_KEEPIDLE, &keepalive_idle_seconds, sizeof(int));
    ::setsockopt(handle, IPPROTO_TCP, TCP_KEEPINTVL, &keepalive_interval_seconds, sizeof(int));
    ::setsockopt(handle, IPPROTO_TCP, TCP_KEEPCNT, &keepalive_probes, sizeof(int));
#endif
}
#endif

// The system's text for a socket error number, for messages to a person.
std::string socket_error_text(int error);

// Prepares the platform's socket library for use. Windows Sockets is asked for
// version 1.1; a failed start-up or any other granted version returns false
// (the library released in the latter case). Always true where no start-up exists.
bool start_socket_library() noexcept;

} // namespace net
