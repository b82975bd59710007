#pragma once

#include "client/console_platform.h"

#include <chrono>
#include <cstddef>
#include <cstring>
#include <memory>
#include <streambuf>

namespace cmdclient {

class StopPolicy;

// A plain output buffer on a file descriptor, for standard output and for
// redirect files alike. Replies pass through it chunk by chunk, so appending
// is a bounds check and a copy; the descriptor is written only when the buffer
// is full or flushed. Every wait for the descriptor goes through the stop
// policy, so a stop signal is heard even while a reader does not read; a
// non-blocking descriptor (a parent may have left it so) is waited on, never
// given up on. Only a real write error fails it, and it stays failed: what it
// holds then is dropped, and error() tells the first error.
class DescriptorBuffer final : public std::streambuf {
  public:
    DescriptorBuffer(std::size_t capacity, StopPolicy& policy);

    // Writes to `fd` from now on (-1: nowhere), with no error yet.
    void attach(int fd) noexcept;

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

    // Fails it as a write to its descriptor from elsewhere did (the first error stays).
    void fail(int error) noexcept;
    // The system's error number of the first failed write, or 0.
    int error() const noexcept { return error_; }

    // Writes out what it holds as the run ends by a signal: without acting on
    // signals and waiting at most `limit` for the descriptor; the rest is dropped.
    void write_out_before_ending(std::chrono::milliseconds limit);

  protected:
    std::streamsize xsputn(const char* text, std::streamsize size) override;
    int_type overflow(int_type c) override;
    int sync() override;

  private:
    bool write_buffered();
    bool write_all(const char* data, std::size_t size);
    // One write, or one wait: the count written (0: call again), or -1 when
    // writing cannot go on (failed, or given up on as the run ends).
    long write_step(const char* data, std::size_t size, bool& writable);
    bool wait_until_writable();

    std::size_t capacity_;
    StopPolicy& policy_;
    std::unique_ptr<char[]> buffer_;
    int fd_ = -1;
    platform::OutputKind kind_ = platform::OutputKind::other;
    int error_ = 0;
    bool ending_ = false;
    std::chrono::steady_clock::time_point ending_deadline_{};
};

} // namespace cmdclient
