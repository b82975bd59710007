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
// Shown when a receive fails (not when the peer closes); %d: the error number.
inline constexpr const char* receive_failed_format = "status == -1  errno == %d in Socket::recv\n";
} // namespace socket_message

// Built on Socket; users see only connect-on-construction, write and read. A
// failure becomes a SocketException (the reason in last_socket_error()); "not
// yet" stays a result, so the caller decides what to do before it waits.
class ClientSocket : private Socket {
  public:
    // Connects to `host` (by endpoint_of()) or `peer`, waiting until `deadline` or
    // a stop signal, or throws; the throw destroys the Socket base, which closes the
    // handle. The reason: 0 for a host text that did not convert, ETIMEDOUT, EINTR.
    ClientSocket(const std::string& host, int port, Deadline deadline = std::nullopt);
    explicit ClientSocket(const Endpoint& peer, Deadline deadline = std::nullopt);
    ~ClientSocket() override = default;

    // Socket::send of `text` (0: wait until writable if would_block(), else a little);
    // throws "Could not write to socket." on failure.
    std::size_t write(std::string_view text);

    // The next chunk into `text`: true; false when nothing has arrived yet. Throws
    // "Could not read from socket." when the connection is closed or fails.
    bool read(std::string& text);

    using Socket::has_ended;
    using Socket::holds_received;
    using Socket::waitable;

  private:
    void open(const std::optional<Endpoint>& peer, Deadline deadline);
};

} // namespace net
