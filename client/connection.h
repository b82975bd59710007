// The session's link to the server, behind an interface so that the whole
// console can run in a test against a connection made in memory.
#pragma once

#include "net/client_socket.h"

#include <string>

namespace cmdclient {

class Connection {
  public:
    virtual ~Connection() = default;
    // Sends all of `text`; throws net::SocketException on failure.
    virtual void write(const std::string& text) = 0;
    // Receives one chunk; throws net::SocketException when the connection is
    // closed or broken. `waiter` hears before the receive blocks.
    virtual void read(std::string& text, net::ReceiveWaiter& waiter) = 0;
    // The system's error number behind the last failure (0: closed by the peer).
    virtual int last_error() const noexcept = 0;
};

class SocketConnection final : public Connection {
  public:
    // Connects, or throws net::SocketException with the system's error number
    // behind it in `failure_error`.
    SocketConnection(const std::string& host, int port, int& failure_error)
        : socket_(host, port, &failure_error) {}
    void write(const std::string& text) override { socket_.write(text); }
    void read(std::string& text, net::ReceiveWaiter& waiter) override {
        socket_.read(text, waiter);
    }
    int last_error() const noexcept override { return socket_.last_error(); }

  private:
    net::ClientSocket socket_;
};

} // namespace cmdclient
