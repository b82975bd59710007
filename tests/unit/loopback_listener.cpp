#include "loopback_listener.h"

#include <stdexcept>
#include <string>

#ifndef _WIN32
#include <sys/select.h>
#endif

namespace testing_support {

namespace {
constexpr int accept_deadline_ms = 5000;
// The longest pause tolerated between two pieces of data from the client.
constexpr int receive_deadline_ms = 5000;

bool readable(net::socket_handle handle, int milliseconds) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(handle, &set);
    timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return ::select(static_cast<int>(handle) + 1, &set, nullptr, nullptr, &wait) == 1;
}
} // namespace

LoopbackListener::LoopbackListener(bool listening) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    net::address_length length = sizeof address;
    if (listener_ == net::invalid_socket ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (listening && ::listen(listener_, 4) != 0) ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot open a loopback listener: error " +
                                 std::to_string(net::last_socket_error()));
    }
    port_ = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener() {
    join();
    net::close_socket(listener_);
}

void LoopbackListener::serve(std::function<void(net::socket_handle)> peer) {
    server_ = std::thread([this, peer = std::move(peer)] {
        if (!readable(listener_, accept_deadline_ms)) {
            return;
        }
        const net::socket_handle connection = ::accept(listener_, nullptr, nullptr);
        if (connection == net::invalid_socket) {
            return;
        }
        peer(connection);
        net::close_socket(connection);
    });
}

void LoopbackListener::join() {
    if (server_.joinable()) {
        server_.join();
    }
}

bool LoopbackListener::connection_pending(int milliseconds) const {
    return readable(listener_, milliseconds);
}

void send_all(net::socket_handle peer, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto n = ::send(peer, bytes.data() + sent,
                              static_cast<net::io_size>(bytes.size() - sent), net::send_flags);
        if (n <= 0) {
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

std::string receive_exactly(net::socket_handle peer, std::size_t count) {
    std::string received;
    char buffer[65536];
    while (received.size() < count && readable(peer, receive_deadline_ms)) {
        const auto n = ::recv(peer, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        received.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
}

void reset_on_close(net::socket_handle peer) {
    linger abrupt{};
    abrupt.l_onoff = 1;
    abrupt.l_linger = 0;
    ::setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abrupt),
                 sizeof abrupt);
}

} // namespace testing_support
