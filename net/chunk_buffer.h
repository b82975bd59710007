// Where the 500-byte rule lives: the system is asked for as much as it has
// (up to SYSTEM_RECEIVE bytes a call), and what it gave is handed out in chunks
// of at most MAX_RECEIVE bytes, each judged on its own by the client.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

namespace net {

// The largest chunk a single receive delivers.
constexpr int MAX_RECEIVE = 500;

// How much one system receive asks for: its MAX_RECEIVE-byte splits are what
// MAX_RECEIVE-byte receives of bytes already waiting give.
constexpr std::size_t SYSTEM_RECEIVE = std::size_t{64} << 10;

class ChunkBuffer {
  public:
    // True when the next chunk is already here: no system receive needed.
    bool holds_chunk() const noexcept { return next_ < end_; }

    // The next chunk's byte count, its text up to a zero byte in `text`. Only with
    // nothing held calls `receive(buffer, size)`, whose result <= 0 it returns.
    template <typename Receive> long next_chunk(std::string& text, Receive&& receive) {
        text.clear();
        if (next_ == end_) {
            if (!bytes_) {
                bytes_.reset(new char[SYSTEM_RECEIVE]);
            }
            const long received = receive(bytes_.get(), SYSTEM_RECEIVE);
            if (received <= 0) {
                return received;
            }
            next_ = 0;
            end_ = static_cast<std::size_t>(received);
        }
        const char* chunk = bytes_.get() + next_;
        const std::size_t size = std::min(end_ - next_, static_cast<std::size_t>(MAX_RECEIVE));
        next_ += size;
        const auto* zero = static_cast<const char*>(std::memchr(chunk, '\0', size));
        text.assign(chunk, zero != nullptr ? zero : chunk + size);
        return static_cast<long>(size);
    }

  private:
    std::unique_ptr<char[]> bytes_;
    std::size_t next_ = 0; // what is left of the last system receive: [next_, end_)
    std::size_t end_ = 0;
};

} // namespace net
