#pragma once

#include "net/socket.h"
#include "net/socket_exception.h"
#include "net/wait.h"

#include <optional>
#include <string>
#include <string_view>

namespace net {

// The fixed messages carried by the exceptions ClientSocket throws.
namespace socket_message {
inline constexpr const char* could_not_create = "Could not create client socket.";
// kept verbatim: scripts match on it (it stands for every failed connection).
inline constexpr const char* could_not_connect = "Could not bind to port.";
inline constexpr const char* could_not_write = "Could not write to socket.";
inline constexpr const char* could_not_read = "Could not read from socket.";
// The line shown on the console when a receive fails (not when the peer
// closes); %d is the system's error number.
inline constexpr const char* receive_failed_format = "status == -1  errno == %d in Socket::recv\n";
} // namespace socket_message

// Built on Socket; users see only connect-on-construction, write and read.
// Every failure of the Socket below becomes a SocketException, the reason left
// in last_socket_error(); "not yet" stays a result, so the caller decides what
// to do before it waits.
class ClientSocket : private Socket {
  public:
    // Creates the socket and connects it to `host` (as endpoint_of() converts
    // it) or `peer`, waiting until `deadline` or a stop signal (which stays
    // recorded), or throws SocketException. A throw destroys the Socket base,
    // which closes a created handle; last_socket_error() is then 0 when the
    // host text did not convert, ETIMEDOUT after the deadline, EINTR after a
    // stop signal.
    ClientSocket(const std::string& host, int port, Deadline deadline = std::nullopt);
    explicit ClientSocket(const Endpoint& peer, Deadline deadline = std::nullopt);
    ~ClientSocket() override = default;

    // Sends what the connection takes now of `text`: the count sent, 0 when it
    // takes nothing yet (would_block(last_socket_error()): wait until writable;
    // otherwise memory or buffers were short: wait a little). Throws "Could not
    // write to socket." on failure.
    std::size_t write(std::string_view text);

    // Receives the next chunk into `text`: true. False when nothing has arrived
    // yet (wait until readable). Throws "Could not read from socket." when the
    // connection is closed or the receive fails (`text` is then empty).
    bool read(std::string& text);

    using Socket::has_ended;
    using Socket::holds_received;
    using Socket::waitable;

  private:
    void open(const std::optional<Endpoint>& peer, Deadline deadline);
};

} // namespace net
