#pragma once

#include "net/chunk_buffer.h"
#include "net/platform.h"
#include "net/wait.h"

#include <string>

namespace net {

// What Socket::recv returns when nothing has arrived yet.
constexpr int NOTHING_YET = -1;

// One IPv4 TCP connection. The Socket owns its handle and its receive buffer,
// and closes the handle when destroyed; it cannot be copied. It never blocks:
// every operation reports by its result (including "not yet") and none throws.
class Socket {
  public:
    Socket() noexcept;
    virtual ~Socket();

    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Opens a non-blocking stream socket and sets address reuse. False if a
    // step fails; a socket that was opened stays in the handle until destruction.
    bool create() noexcept;

    // Starts connecting to `host` ("localhost" or a dotted-decimal address;
    // never looked up by name) on the low 16 bits of `port`. True when
    // connected, or when connecting() is then true: wait until writable and
    // call finish_connect(). False if there is no socket, the host text does
    // not convert (nothing is attempted then) or the connect failed.
    bool connect(const std::string& host, int port) noexcept;
    bool connecting() const noexcept { return connecting_; }
    // The outcome of a connect that was in progress. True: connected, with
    // keepalive probes on. False: failed, the reason in last_error().
    bool finish_connect() noexcept;

    // Sends what the connection takes now of `size` bytes at `data`: the count
    // sent, 0 when it takes none yet (its buffer is full, or memory or network
    // buffers are short: last_error() says which), or -1 on a real error,
    // including a connection the server has closed.
    long send(const char* data, std::size_t size) noexcept;

    // Hands the next chunk of at most MAX_RECEIVE bytes into `text`, which ends
    // at the chunk's first zero byte. Asks the kernel only when nothing is
    // buffered. Returns the chunk's byte count; NOTHING_YET when nothing has
    // arrived; 0 when the peer has closed the connection (last_error() 0) or on
    // an error (last_error() says which); `text` is empty for both. Throws
    // std::bad_alloc only when memory for the buffer or the text runs out.
    int recv(std::string& text);

    // True when the next recv hands out a chunk already received.
    bool holds_received() const noexcept { return received_.holds_chunk(); }

    // For waiting on this socket with wait_for().
    Waitable waitable() const noexcept {
        return {static_cast<std::intptr_t>(handle), true};
    }

    // The system's error number for the last failed operation; 0 after a
    // receive that failed because the peer closed the connection.
    int last_error() const noexcept { return last_error_; }

  private:
    socket_handle handle = invalid_socket;
    sockaddr_in peer{};
    int last_error_ = 0;
    bool connecting_ = false;
    bool reset_pending_ = false;
    ChunkBuffer received_;
};

} // namespace net
