#include "net/client_socket.h"

namespace net {

ClientSocket::ClientSocket(const std::string& host, int port, int* failure_error) {
    if (!Socket::create()) {
        if (failure_error != nullptr) {
            *failure_error = Socket::last_error();
        }
        throw SocketException(socket_message::could_not_create);
    }
    if (!Socket::connect(host, port)) {
        if (failure_error != nullptr) {
            *failure_error = Socket::last_error();
        }
        throw SocketException(socket_message::could_not_connect);
    }
}

ClientSocket::~ClientSocket() = default;

ClientSocket& ClientSocket::write(const std::string& text) {
    if (!Socket::send(text)) {
        throw SocketException(socket_message::could_not_write);
    }
    return *this;
}

ClientSocket& ClientSocket::read(std::string& text) {
    if (Socket::recv(text) == 0) {
        throw SocketException(socket_message::could_not_read);
    }
    return *this;
}

ClientSocket& ClientSocket::read(std::string& text, ReceiveWaiter& waiter) {
    if (Socket::recv(text, waiter) == 0) {
        throw SocketException(socket_message::could_not_read);
    }
    return *this;
}

} // namespace net
