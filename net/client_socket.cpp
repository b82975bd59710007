#include "net/client_socket.h"

#include <cerrno>

namespace net {

namespace {
// A connect that could not be finished: a stop signal, the deadline, or the wait failed.
int unfinished_connect_error(WaitResult result) noexcept {
    switch (result) {
    case WaitResult::stop_signal:
        return EINTR;
    case WaitResult::timed_out:
        return ETIMEDOUT;
    default:
        return last_socket_error();
    }
}
} // namespace

ClientSocket::ClientSocket(const std::string& host, int port, Deadline deadline,
                           int* failure_error) {
    const auto fail = [&](const char* message, int error) {
        if (failure_error != nullptr) {
            *failure_error = error;
        }
        throw SocketException(message);
    };
    if (!Socket::create()) {
        fail(socket_message::could_not_create, Socket::last_error());
    }
    if (!Socket::connect(host, port)) {
        fail(socket_message::could_not_connect, Socket::last_error());
    }
    if (Socket::connecting()) {
        const WaitResult result = wait_for(Socket::waitable(), Direction::writable, deadline);
        if (result != WaitResult::ready) {
            fail(socket_message::could_not_connect, unfinished_connect_error(result));
        }
        if (!Socket::finish_connect()) {
            fail(socket_message::could_not_connect, Socket::last_error());
        }
    }
}

ClientSocket::~ClientSocket() = default;

std::size_t ClientSocket::write(std::string_view text) {
    const long sent = Socket::send(text.data(), text.size());
    if (sent < 0) {
        throw SocketException(socket_message::could_not_write);
    }
    return static_cast<std::size_t>(sent);
}

bool ClientSocket::read(std::string& text) {
    const int received = Socket::recv(text);
    if (received == 0) {
        throw SocketException(socket_message::could_not_read);
    }
    return received != NOTHING_YET;
}

bool ClientSocket::send_buffer_full() const noexcept {
    return would_block(Socket::last_error());
}

} // namespace net
