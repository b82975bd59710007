// The session's link to the server, behind an interface so that the whole
// console can run in a test against a connection made in memory.
#pragma once

#include "net/client_socket.h"

#include <string>
#include <string_view>

namespace cmdclient {

class Connection {
  public:
    virtual ~Connection() = default;
    // Sends what the connection takes now of `text`: the count (0: none yet;
    // net::would_block(net::last_socket_error()) when full); throws net::SocketException.
    virtual std::size_t write(std::string_view text) = 0;
    // Receives one chunk: true; false when nothing has arrived yet. Throws
    // when closed (net::last_socket_error() is then 0) or broken.
    virtual bool read(std::string& text) = 0;
    // True when the next read hands out a chunk already received.
    virtual bool holds_received() const noexcept = 0;
    // True when the connection was closed or has failed (last_socket_error(),
    // 0: closed), with nothing received left unread. Takes nothing from it.
    virtual bool has_ended() noexcept = 0;
    virtual net::Waitable waitable() const noexcept = 0;
};

class SocketConnection final : public Connection {
  public:
    // Connects to `peer`, waiting until `deadline`, or throws net::SocketException.
    SocketConnection(const net::Endpoint& peer, net::Deadline deadline) : socket_(peer, deadline) {}
    std::size_t write(std::string_view text) override { return socket_.write(text); }
    bool read(std::string& text) override { return socket_.read(text); }
    bool holds_received() const noexcept override { return socket_.holds_received(); }
    bool has_ended() noexcept override { return socket_.has_ended(); }
    net::Waitable waitable() const noexcept override { return socket_.waitable(); }

  private:
    net::ClientSocket socket_;
};

} // namespace cmdclient
