#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <streambuf>

namespace cmdclient {

// A plain output buffer on a file descriptor. Replies pass through it chunk by
// chunk, so appending is a bounds check and a copy; the descriptor is written
// only when the buffer is full or flushed. A descriptor that is non-blocking
// (a parent may have left it so) is waited on, never given up on; only a real
// write error fails the stream.
class DescriptorBuffer final : public std::streambuf {
  public:
    explicit DescriptorBuffer(int fd);

    // Appends `size` bytes: a copy while they fit, else the stream's own way
    // (writing the buffer out). False if a write failed.
    bool append(const char* text, std::size_t size) {
        if (size <= static_cast<std::size_t>(epptr() - pptr())) {
            std::memcpy(pptr(), text, size);
            pbump(static_cast<int>(size));
            return true;
        }
        return xsputn(text, static_cast<std::streamsize>(size)) ==
               static_cast<std::streamsize>(size);
    }

  protected:
    std::streamsize xsputn(const char* text, std::streamsize size) override;
    int_type overflow(int_type c) override;
    int sync() override;

  private:
    bool write_buffered();
    bool write_all(const char* data, std::size_t size);

    // Large enough that a reply reaches the descriptor in few writes, small
    // enough to keep the client's memory flat and low.
    static constexpr std::size_t capacity = std::size_t{64} << 10;
    int fd_;
    std::unique_ptr<char[]> buffer_;
};

} // namespace cmdclient
