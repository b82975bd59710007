#include "net/socket.h"

#include "net/address.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace net {

Socket::Socket() noexcept = default;

Socket::~Socket() {
    if (handle != invalid_socket) {
        close_socket(handle);
    }
}

bool Socket::create() noexcept {
    handle = ::socket(AF_INET, SOCK_STREAM, 0);
    if (handle == invalid_socket) {
        last_error_ = last_socket_error();
        return false;
    }
    const int reuse = 1;
    if (::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
                     sizeof reuse) != 0) {
        last_error_ = last_socket_error();
        return false;
    }
    return true;
}

bool Socket::connect(const std::string& host, int port) noexcept {
    if (handle == invalid_socket) {
        return false;
    }
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<unsigned short>(port & 0xFFFF));
    if (text_to_address(ipv4_family, host.c_str(), &peer.sin_addr) != 1) {
        last_error_ = 0;
        return false;
    }
    if (::connect(handle, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0 &&
        !(interrupted_by_signal() && finish_interrupted_connect(handle))) {
        last_error_ = last_socket_error();
        return false;
    }
    keep_alive(handle);
    return true;
}

bool Socket::send(const std::string& text) noexcept {
    // Bounded per call so that the count fits every platform's length type.
    constexpr std::size_t largest_send = std::size_t{1} << 30;
    const char* next = text.data();
    std::size_t remaining = text.size();
    while (remaining > 0) {
        const auto length = static_cast<io_size>(std::min(remaining, largest_send));
        const auto sent = ::send(handle, next, length, send_flags);
        if (sent < 0) {
            if (interrupted_by_signal()) {
                continue;
            }
            last_error_ = last_socket_error();
            return false;
        }
        if (sent == 0) {
            last_error_ = 0;
            return false;
        }
        next += sent;
        remaining -= static_cast<std::size_t>(sent);
    }
    return true;
}

int Socket::recv(std::string& text) {
    // Receive straight into the text's own storage: no second copy. Growing it
    // back to full size costs nothing when the previous chunk was full too.
    text.resize(MAX_RECEIVE);
    long received;
    do {
        received = static_cast<long>(::recv(handle, &text[0], MAX_RECEIVE, 0));
    } while (received < 0 && interrupted_by_signal());
    return finish_receive(text, received);
}

int Socket::recv(std::string& text, ReceiveWaiter& waiter) {
    text.resize(MAX_RECEIVE);
    long received = -1;
    bool wait = !waiter.worth_looking_first();
    if (!wait) {
        received = receive_without_waiting(handle, &text[0], MAX_RECEIVE);
        wait = received < 0 && (would_block() || interrupted_by_signal());
    }
    while (wait) {
        // Told before every wait, also after an interrupted one, so that a
        // signal handled meanwhile is never left to wait with us.
        waiter.before_waiting();
        received = static_cast<long>(::recv(handle, &text[0], MAX_RECEIVE, 0));
        wait = received < 0 && interrupted_by_signal();
        if (wait) {
            waiter.interrupted();
        }
    }
    return finish_receive(text, received);
}

int Socket::finish_receive(std::string& text, long received) {
    if (received <= 0) {
        text.clear();
        last_error_ = received < 0 ? last_socket_error() : 0;
        if (received < 0) {
            char line[64];
            std::snprintf(line, sizeof line, "status == -1  errno == %d in Socket::recv\n",
                          last_error_);
            std::cout << line;
        }
        return 0;
    }
    text.resize(text_length(text.data(), static_cast<std::size_t>(received)));
    return static_cast<int>(received);
}

std::size_t text_length(const char* bytes, std::size_t count) noexcept {
    const auto* zero = static_cast<const char*>(std::memchr(bytes, '\0', count));
    return zero != nullptr ? static_cast<std::size_t>(zero - bytes) : count;
}

} // namespace net
