#pragma once

#include <cstddef>
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
