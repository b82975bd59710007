#pragma once

#include "net/platform.h"

#include <cstddef>
#include <string>

namespace net {

// The largest chunk a single receive delivers.
constexpr int MAX_RECEIVE = 500;

// Told about the moments a receive is about to wait, or was woken by a signal,
// so that its user can write out what it holds and act on the signal first.
class ReceiveWaiter {
  public:
    // Nothing more has arrived yet: the receive is about to block.
    virtual void before_waiting() = 0;
    // A signal cut the wait short; the receive goes on waiting afterwards.
    virtual void interrupted() = 0;
    // False when data is unlikely to be there yet (right after a command was
    // sent): the receive then waits at once instead of looking first.
    virtual bool worth_looking_first() { return true; }

  protected:
    ~ReceiveWaiter() = default;
};

// One IPv4 TCP connection. The Socket owns its handle and closes it when
// destroyed; it cannot be copied. Every operation reports by its result and
// none throws.
class Socket {
  public:
    Socket() noexcept;
    virtual ~Socket();

    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Opens a stream socket and sets address reuse. False if either step fails;
    // a socket that was opened stays in the handle until destruction.
    bool create() noexcept;

    // Connects to `host` ("localhost" or a dotted-decimal address; never looked
    // up by name) on the low 16 bits of `port`, and turns on keepalive probes.
    // False if there is no socket, the host text does not convert (nothing is
    // attempted then) or the connect fails. A connect interrupted by a signal
    // waits for its real outcome.
    bool connect(const std::string& host, int port) noexcept;

    // Sends every byte of `text`, continuing after short sends. False only on a
    // real error, including a connection the server has closed.
    bool send(const std::string& text) noexcept;

    // Receives at most MAX_RECEIVE bytes into `text`, which ends at the first zero
    // byte received. Returns the count of bytes received, or 0 when the peer has
    // closed the connection (text empty) or on an error, which also prints a
    // diagnostic line to standard output.
    int recv(std::string& text);

    // The same receive, but `waiter` hears before it blocks and whenever a
    // signal interrupts the wait. Costs no extra call while data keeps arriving.
    int recv(std::string& text, ReceiveWaiter& waiter);

    // The system's error number for the last failed operation; 0 after a
    // receive that failed because the peer closed the connection.
    int last_error() const noexcept { return last_error_; }

  private:
    int finish_receive(std::string& text, long received);

    socket_handle handle = invalid_socket;
    sockaddr_in peer{};
    int last_error_ = 0;
};

// Length of the text in `count` received bytes read as a zero-terminated string:
// the text stops at the first zero byte, and bytes after it are not part of it.
std::size_t text_length(const char* bytes, std::size_t count) noexcept;

} // namespace net
