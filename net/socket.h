#pragma once

#include "net/address.h"
#include "net/chunk_buffer.h"
#include "net/platform.h"
#include "net/wait.h"

#include <string>

namespace net {

// What Socket::recv returns when nothing has arrived yet.
constexpr int NOTHING_YET = -1;

// One TCP connection, owning its handle (closed when destroyed, the reason in
// last_socket_error() kept) and its receive buffer. It never blocks or throws:
// each operation reports by its result, a failure's reason in last_socket_error().
class Socket {
  public:
    Socket() noexcept = default;
    virtual ~Socket();

    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Opens a non-blocking stream socket of `family` and sets address reuse.
    // False if a step fails; an opened socket stays in the handle until destruction.
    bool create(int family = ipv4_family) noexcept;

    // Starts connecting: true when connected, or when connecting() (wait until
    // writable, then finish_connect()); false without a socket or on failure.
    bool connect(const Endpoint& peer) noexcept;
    bool connecting() const noexcept { return connecting_; }
    // The outcome of a connect in progress: true when connected, with keepalive on.
    bool finish_connect() noexcept;

    // Sends what the connection takes now: the count; 0 when none yet (would_block(),
    // or buffers are short); -1 on an error, a connection the server closed among them.
    long send(const char* data, std::size_t size) noexcept;

    // The next chunk (see ChunkBuffer::next_chunk): its byte count; NOTHING_YET;
    // or 0, `text` empty, when the peer has closed (reason 0) or on an error.
    int recv(std::string& text);

    // True when the next recv hands out a chunk already received.
    bool holds_received() const noexcept { return received_.holds_chunk(); }

    // True when the peer closed (reason 0) or the connection failed, with nothing
    // received left unread. It only looks: bytes that came stay for the next recv.
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
