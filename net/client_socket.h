#pragma once

#include "net/socket.h"
#include "net/socket_exception.h"

#include <string>

namespace net {

// The fixed messages carried by the exceptions ClientSocket throws.
namespace socket_message {
inline constexpr const char* could_not_create = "Could not create client socket.";
// kept verbatim: scripts match on it (it stands for every failed connection).
inline constexpr const char* could_not_connect = "Could not bind to port.";
inline constexpr const char* could_not_write = "Could not write to socket.";
inline constexpr const char* could_not_read = "Could not read from socket.";
} // namespace socket_message

// Built on Socket; users see only connect-on-construction, write and read.
// Every failure of the Socket below becomes a SocketException.
class ClientSocket : private Socket {
  public:
    // Creates the socket and connects it, or throws SocketException. A throw
    // destroys the Socket base on the way out, which closes a created handle;
    // `failure_error`, when given, then receives the system's error number
    // behind the failure (0 when the host text did not convert).
    ClientSocket(const std::string& host, int port, int* failure_error = nullptr);
    ~ClientSocket() override;

    // Sends all of `text`; throws "Could not write to socket." on failure.
    ClientSocket& write(const std::string& text);

    // Receives one chunk into `text`; throws "Could not read from socket." when
    // the connection is closed or the receive fails (`text` is then empty).
    ClientSocket& read(std::string& text);

    // The same, telling `waiter` before the receive blocks and when a signal
    // interrupts it.
    ClientSocket& read(std::string& text, ReceiveWaiter& waiter);

    // The system's error number behind the last failure (0: closed by the peer).
    using Socket::last_error;
};

} // namespace net
