#pragma once

#include "net/address.h"
#include "net/chunk_buffer.h"
#include "net/platform.h"
#include "net/wait.h"

#include <string>

namespace net {

// What Socket::recv returns when nothing has arrived yet.
constexpr int NOTHING_YET = -1;

// One TCP connection. The Socket owns its handle and its receive buffer, and
// closes the handle when destroyed; it cannot be copied. It never blocks:
// every operation reports by its result (including "not yet") and none throws.
// A failed operation leaves the reason in last_socket_error(), as a system call
// leaves errno; closing the handle keeps it.
class Socket {
  public:
    Socket() noexcept = default;
    virtual ~Socket();

    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Opens a non-blocking stream socket of `family` and sets address reuse.
    // False if a step fails; an opened socket stays in the handle until destruction.
    bool create(int family = ipv4_family) noexcept;

    // Starts connecting to `peer`. True when connected, or when connecting()
    // is then true: wait until writable and call finish_connect(). False if
    // there is no socket or the connect failed.
    bool connect(const Endpoint& peer) noexcept;
    bool connecting() const noexcept { return connecting_; }
    // The outcome of a connect in progress: true when connected, with keepalive on.
    bool finish_connect() noexcept;

    // Sends what the connection takes now of `size` bytes at `data`: the count
    // sent, 0 when it takes none yet (its buffer is full: would_block(), or
    // memory or network buffers are short), or -1 on a real error, including a
    // connection the server has closed.
    long send(const char* data, std::size_t size) noexcept;

    // Hands the next chunk of at most MAX_RECEIVE bytes into `text`, which ends
    // at the chunk's first zero byte; asks the kernel only when nothing is
    // buffered. The chunk's byte count; NOTHING_YET when nothing has arrived;
    // 0 (`text` empty) when the peer has closed (the reason is then 0) or on an
    // error. Throws std::bad_alloc only when memory runs out.
    int recv(std::string& text);

    // True when the next recv hands out a chunk already received.
    bool holds_received() const noexcept { return received_.holds_chunk(); }

    // True when the connection has ended with nothing received left unread:
    // the peer closed it (the reason is then 0) or it failed. It only looks:
    // bytes that came unasked stay for the next recv.
    bool has_ended() noexcept;

    Waitable waitable() const noexcept { return {static_cast<std::intptr_t>(handle), true}; }

  private:
    socket_handle handle = invalid_socket;
    Endpoint peer;
    bool connecting_ = false;
    bool reset_pending_ = false;
    ChunkBuffer received_;
};

} // namespace net
