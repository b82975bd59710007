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
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
#endif

#include <string>

namespace net {

#ifdef _WIN32
// The names are described where the POSIX part below defines them.
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
// Windows keeps the socket error apart from errno, and any system call may
// reset it (the unwinding of an exception among them): the client keeps a copy.
inline thread_local int kept_socket_error = 0;
inline int last_socket_error() noexcept {
    const int error = ::WSAGetLastError();
    return error != 0 ? error : kept_socket_error;
}
inline void set_last_socket_error(int error) noexcept {
    kept_socket_error = error;
    ::WSASetLastError(error);
}
// Windows Sockets 1.1 knows IPv4 alone.
using address_storage = sockaddr_in;
inline bool make_non_blocking(socket_handle handle) noexcept {
    u_long on = 1;
    return ::ioctlsocket(handle, FIONBIO, &on) == 0;
}
inline bool would_block(int error) noexcept {
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}
inline bool connect_in_progress(int error) noexcept {
    return would_block(error);
}
inline bool transient_send_error(int error) noexcept {
    return would_block(error) || error == WSAENOBUFS || error == WSAEINTR;
}
inline bool connect_may_succeed_later(int error) noexcept {
    return error == WSAECONNREFUSED || error == WSAENETUNREACH || error == WSAEHOSTUNREACH ||
           error == WSAENETDOWN || error == WSAEHOSTDOWN || error == WSAETIMEDOUT ||
           error == WSAEADDRNOTAVAIL || error == WSAENOBUFS;
}
constexpr int connection_reset_error = WSAECONNRESET;
inline bool reset_after_connecting(int error) noexcept {
    return error == WSAECONNRESET;
}
// Keepalive with the system's own timings (Windows Sockets 1.1 has no way to
// set them), and TCP_MAXRT, where the system has it, to give up on data that
// is never acknowledged after as long (a failure to set it is ignored).
constexpr int unacknowledged_limit_seconds = 120;
inline void keep_alive(socket_handle handle) noexcept {
    const BOOL on = TRUE;
    ::setsockopt(handle, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    constexpr int tcp_maxrt = 5; // from ws2ipdef.h, which Windows Sockets 1.1 lacks
    ::setsockopt(handle, IPPROTO_TCP, tcp_maxrt,
                 reinterpret_cast<const char*>(&unacknowledged_limit_seconds), sizeof(int));
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
inline void set_last_socket_error(int error) noexcept {
    errno = error;
}
using address_storage = sockaddr_storage;
// The socket is the client's own (no other process shares its open file), so
// it may be non-blocking: every wait for it then goes through the one wait.
inline bool make_non_blocking(socket_handle handle) noexcept {
    const int flags = ::fcntl(handle, F_GETFL);
    return flags != -1 && ::fcntl(handle, F_SETFL, flags | O_NONBLOCK) == 0;
}
// A non-blocking call found nothing to do yet (a connect: it has begun). A
// signal that cut a call short is the same: the call is made again.
inline bool would_block(int error) noexcept {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS || error == EINTR;
}
// A non-blocking connect has begun and goes on. EAGAIN is not that: on a
// connect it means no local port was free, and the connect failed.
inline bool connect_in_progress(int error) noexcept {
    return error == EINPROGRESS || error == EINTR;
}
// A send failed for want of a resource that comes back by itself: memory or
// buffers for the network, or room in the connection's buffer.
inline bool transient_send_error(int error) noexcept {
    return would_block(error) || error == ENOBUFS || error == ENOMEM;
}
// True when a connect failed in a way a later try may overcome: refused,
// unreachable, timed out, or no free local port (a device still starting up).
inline bool connect_may_succeed_later(int error) noexcept {
    return error == ECONNREFUSED || error == ENETUNREACH || error == EHOSTUNREACH ||
           error == ENETDOWN || error == EHOSTDOWN || error == ETIMEDOUT || error == EAGAIN ||
           error == EADDRNOTAVAIL;
}
constexpr int connection_reset_error = ECONNRESET;
// The outcome of a connect that was made and then reset before it was looked at.
inline bool reset_after_connecting(int error) noexcept {
    return error == ECONNRESET || error == EPIPE;
}
// Probe an idle connection so that a server host that vanished (power cut,
// cable pulled) is noticed: 60 s idle, then 6 probes 10 s apart. A live server
// answers probes itself, however long its reply takes, so it is never cut off.
constexpr int keepalive_idle_seconds = 60;
constexpr int keepalive_interval_seconds = 10;
constexpr int keepalive_probes = 6;
// Keepalive only probes a connection with nothing in flight. Data the server's
// host never acknowledges (a command sent after it vanished) is given up on
// after as long, instead of after TCP's retransmission limit (about 15 min).
constexpr int unacknowledged_limit_ms =
    (keepalive_idle_seconds + keepalive_interval_seconds * keepalive_probes) * 1000;
inline void keep_alive(socket_handle handle) noexcept {
    const int on = 1;
    ::setsockopt(handle, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
#ifdef TCP_KEEPIDLE
    ::setsockopt(handle, IPPROTO_TCP, TCP_KEEPIDLE, &keepalive_idle_seconds, sizeof(int));
    ::setsockopt(handle, IPPROTO_TCP, TCP_KEEPINTVL, &keepalive_interval_seconds, sizeof(int));
    ::setsockopt(handle, IPPROTO_TCP, TCP_KEEPCNT, &keepalive_probes, sizeof(int));
#endif
#ifdef TCP_USER_TIMEOUT
    ::setsockopt(handle, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledged_limit_ms, sizeof(int));
#endif
}
#endif

// The system's text for a socket error number, for messages to a person.
std::string socket_error_text(int error);

// A socket address as text for messages, "127.0.0.1 port 5000" or
// "::1 port 5000" (a link-local one with its zone: "fe80::1%eth0 port 5000").
std::string address_text(const sockaddr* address, address_length size);

// Starts the socket library where there is one to start (Windows Sockets, asked
// for version 1.1): false when that fails or grants another version, released then.
bool start_socket_library() noexcept;

} // namespace net
