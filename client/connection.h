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
    // Sends what the connection takes now of `text`: the count (0: none yet).
    // Throws net::SocketException on failure.
    virtual std::size_t write(std::string_view text) = 0;
    // True once send_buffer_full() would say why the last write took nothing:
    // the connection's buffer was full (wait until writable), not a shortage.
    virtual bool send_buffer_full() const noexcept = 0;
    // Receives one chunk: true; false when nothing has arrived yet. Throws
    // net::SocketException when the connection is closed or broken.
    virtual bool read(std::string& text) = 0;
    // True when the next read hands out a chunk already received.
    virtual bool holds_received() const noexcept = 0;
    // What to wait on for the connection.
    virtual net::Waitable waitable() const noexcept = 0;
    // The system's error number behind the last failure (0: closed by the peer).
    virtual int last_error() const noexcept = 0;
};

class SocketConnection final : public Connection {
  public:
    // Connects, waiting until `deadline`, or throws net::SocketException with
    // the system's error number behind it in `failure_error`.
    SocketConnection(const std::string& host, int port, net::Deadline deadline,
                     int& failure_error)
        : socket_(host, port, deadline, &failure_error) {}
    std::size_t write(std::string_view text) override { return socket_.write(text); }
    bool send_buffer_full() const noexcept override { return socket_.send_buffer_full(); }
    bool read(std::string& text) override { return socket_.read(text); }
    bool holds_received() const noexcept override { return socket_.holds_received(); }
    net::Waitable waitable() const noexcept override { return socket_.waitable(); }
    int last_error() const noexcept override { return socket_.last_error(); }

  private:
    net::ClientSocket socket_;
};

} // namespace cmdclient
