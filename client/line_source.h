// Where the command loop gets its lines: standard input read by the client
// itself, or the line editor at a terminal.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace cmdclient {

enum class LineRead {
    line,        // a line was read (possibly the last one, without a newline)
    end,         // no more input at all
    interrupted, // a signal arrived while waiting; what was typed is gone
    failed,      // input cannot be read; error() says why
};

class LineSource {
  public:
    virtual ~LineSource() = default;
    // Reads the next line, without its line end, into `line`.
    virtual LineRead read(std::string& line) = 0;
    // The system's error number after `failed`.
    virtual int error() const noexcept { return 0; }
    // The loop took this line (sent it, or quit on it); a source with history keeps it.
    virtual void remember(const std::string& /*line*/) {}
};

// Lines from a file descriptor, read in large blocks. A non-blocking
// descriptor is waited on; a read error is reported, never taken for the end.
// Lines have no length limit: one too long for memory throws std::bad_alloc.
class DescriptorLineSource final : public LineSource {
  public:
    explicit DescriptorLineSource(int fd);
    LineRead read(std::string& line) override;
    int error() const noexcept override { return error_; }

  private:
    int fd_;
    std::unique_ptr<char[]> buffer_;
    std::size_t start_ = 0; // unread bytes are buffer_[start_, end_)
    std::size_t end_ = 0;
    bool ended_ = false;
    int error_ = 0;
};

} // namespace cmdclient
