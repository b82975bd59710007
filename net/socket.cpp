#include "net/socket.h"

#include <algorithm>

namespace net {

Socket::~Socket() {
    if (handle != invalid_socket) {
        const int reason = last_socket_error();
        close_socket(handle);
        set_last_socket_error(reason);
    }
}

bool Socket::create(int family) noexcept {
    handle = ::socket(family, SOCK_STREAM, 0);
    if (handle == invalid_socket) {
        return false;
    }
    const int reuse = 1;
    return ::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
                        sizeof reuse) == 0 &&
           make_non_blocking(handle);
}

bool Socket::connect(const Endpoint& to) noexcept {
    if (handle == invalid_socket) {
        return false;
    }
    peer = to;
    if (::connect(handle, peer.data(), peer.size()) != 0) {
        connecting_ = connect_in_progress(last_socket_error());
        return connecting_;
    }
    keep_alive(handle);
    return true;
}

bool Socket::finish_connect() noexcept {
    connecting_ = false;
    int error = 0;
    address_length length = sizeof error;
    if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
        error = last_socket_error();
    }
    if (error != 0 && !reset_after_connecting(error)) {
        set_last_socket_error(error);
        return false;
    }
    // A reset that came before we looked followed a connection that was made:
    // it is the first send's or receive's to report, as it would have been.
    reset_pending_ = error != 0;
    keep_alive(handle);
    return true;
}

long Socket::send(const char* data, std::size_t size) noexcept {
    if (reset_pending_) {
        reset_pending_ = false;
        set_last_socket_error(connection_reset_error);
        return -1;
    }
    // Bounded per call so that the count fits every platform's length type.
    constexpr std::size_t largest_send = std::size_t{1} << 30;
    const auto length = static_cast<io_size>(std::min(size, largest_send));
    const auto sent = ::send(handle, data, length, send_flags);
    if (sent >= 0) {
        return static_cast<long>(sent);
    }
    return transient_send_error(last_socket_error()) ? 0 : -1;
}

int Socket::recv(std::string& text) {
    if (reset_pending_) {
        reset_pending_ = false;
        text.clear();
        set_last_socket_error(connection_reset_error);
        return 0;
    }
    const long size = received_.next_chunk(text, [this](char* buffer, std::size_t capacity) {
        const auto received = ::recv(handle, buffer, static_cast<io_size>(capacity), 0);
        if (received < 0) {
            return would_block(last_socket_error()) ? long{NOTHING_YET} : long{0};
        }
        if (received == 0) {
            set_last_socket_error(0);
        }
        return static_cast<long>(received);
    });
    return static_cast<int>(size);
}

bool Socket::has_ended() noexcept {
    if (received_.holds_chunk()) {
        return false;
    }
    if (reset_pending_) {
        reset_pending_ = false;
        set_last_socket_error(connection_reset_error);
        return true;
    }
    char byte = 0;
    const auto peeked = ::recv(handle, &byte, 1, MSG_PEEK);
    if (peeked > 0) {
        return false;
    }
    if (peeked == 0) {
        set_last_socket_error(0);
        return true;
    }
    return !would_block(last_socket_error()); // still open, with nothing sent
}

} // namespace net
