// A listening socket on 127.0.0.1 with a port the system hands out, and a
// thread that accepts one connection and plays the server's part.
#pragma once

#include "net/platform.h"

#include <functional>
#include <string>
#include <thread>

namespace testing_support {

class LoopbackListener {
  public:
    // With `listening` false the port is bound but refuses connections.
    explicit LoopbackListener(bool listening = true);
    ~LoopbackListener();

    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int port() const { return port_; }

    // Accepts one connection on a thread (waiting at most a few seconds) and runs
    // `peer` with it; the connection is closed when `peer` returns.
    void serve(std::function<void(net::socket_handle)> peer);

    // Waits for the server thread to finish.
    void join();

    // True when a connection attempt arrives within `milliseconds`.
    bool connection_pending(int milliseconds) const;

  private:
    net::socket_handle listener_ = net::invalid_socket;
    int port_ = 0;
    std::thread server_;
};

// Sends all of `bytes` from the server side.
void send_all(net::socket_handle peer, const std::string& bytes);

// Receives until `count` bytes have arrived, the connection ends or the client
// falls silent for a few seconds.
std::string receive_exactly(net::socket_handle peer, std::size_t count);

// Makes the coming close of `peer` a reset instead of an orderly close.
void reset_on_close(net::socket_handle peer);

} // namespace testing_support
