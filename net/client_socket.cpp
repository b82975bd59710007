#include "net/client_socket.h"

#include <cerrno>

namespace net {

ClientSocket::ClientSocket(const std::string& host, int port, Deadline deadline) {
    open(endpoint_of(host, port), deadline);
}

ClientSocket::ClientSocket(const Endpoint& peer, Deadline deadline) {
    open(peer, deadline);
}

void ClientSocket::open(const std::optional<Endpoint>& peer, Deadline deadline) {
    // The reason is kept before the throw: unwinding may make system calls.
    const auto fail = [](const char* message, int reason) {
        set_last_socket_error(reason);
        throw SocketException(message);
    };
    if (!Socket::create(peer ? peer->family() : ipv4_family)) {
        fail(socket_message::could_not_create, last_socket_error());
    }
    if (!peer) {
        fail(socket_message::could_not_connect, 0); // the host text did not convert
    }
    if (!Socket::connect(*peer)) {
        fail(socket_message::could_not_connect, last_socket_error());
    }
    if (Socket::connecting()) {
        const WaitResult result = wait_for(Socket::waitable(), Direction::writable, deadline);
        if (result != WaitResult::ready) {
            fail(socket_message::could_not_connect, result == WaitResult::stop_signal ? EINTR
                                                    : result == WaitResult::timed_out
                                                        ? ETIMEDOUT
                                                        : last_socket_error());
        }
        if (!Socket::finish_connect()) {
            fail(socket_message::could_not_connect, last_socket_error());
        }
    }
}

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

} // namespace net
